#include "platform/processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/support/testenv.h"

namespace fs = std::filesystem;

namespace {

// Runs a copy of sleep under the given file name; ignoreTerm makes it deaf to SIGTERM.
pid_t StartAs(const fs::path& program, bool ignoreTerm = false) {
  if (!fs::exists(program)) fs::copy_file("/bin/sleep", program);
  const pid_t pid = fork();
  if (pid == 0) {
    if (ignoreTerm) signal(SIGTERM, SIG_IGN);
    execl(program.c_str(), program.filename().c_str(), "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Up to 30 s on a loaded machine; usually at once.
  for (int i = 0; i < 6000; ++i) {
    char buf[4096];
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf);
    if (n > 0 && std::string(buf, size_t(n)) == program.string()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pid;
}

// Reaps the child; true when a signal ended it.
bool EndedBySignal(pid_t pid, int& signal) {
  int status = 0;
  for (int i = 0; i < 3000; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      return WIFSIGNALED(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void Reap(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Names unique to this test program, so no other process is ever hit.
std::string Unique(const char* stem) { return stem + std::to_string(getpid()); }

}  // namespace

TEST(Processes, OnlyTheFirstOfTheNameIsStoppedWhateverTheCase) {
  const std::string name = Unique("QuillometProbe");
  const fs::path a = testenv::makeDir("a") / name;
  std::string upper = name;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  const fs::path b = testenv::makeDir("b") / upper;
  const pid_t first = StartAs(a);
  const pid_t second = StartAs(b);
  ASSERT_LT(first, second) << "pids wrapped around";
  EXPECT_EQ(platform::ProcessesNamed(name), (std::vector<pid_t>{first, second}));

  std::string lower = name;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_TRUE(platform::KillProcessByName(lower));
  int sig = 0;
  EXPECT_TRUE(EndedBySignal(first, sig));
  EXPECT_EQ(sig, SIGTERM);
  EXPECT_EQ(waitpid(second, nullptr, WNOHANG), 0) << "the second one was stopped too";
  Reap(second);
}

TEST(Processes, NoneRunningIsFalse) {
  EXPECT_FALSE(platform::KillProcessByName(Unique("QuillometAbsent")));
  // A longer name that merely starts with the one asked for does not count.
  const std::string name = Unique("QuillometLong");
  const pid_t p = StartAs(testenv::makeDir("c") / (name + "x"));
  EXPECT_FALSE(platform::KillProcessByName(name));
  Reap(p);
}

TEST(Processes, OneThatIgnoresTheRequestIsKilled) {
  const pid_t p = StartAs(testenv::makeDir("d") / Unique("QuillometDeaf"), true);
  EXPECT_TRUE(platform::KillProcessByName(Unique("QuillometDeaf"), std::chrono::milliseconds(200)));
  int sig = 0;
  EXPECT_TRUE(EndedBySignal(p, sig));
  EXPECT_EQ(sig, SIGKILL);
}

TEST(Processes, AProgramReplacedOnDiskIsStillFound) {
  const fs::path program = testenv::makeDir("e") / Unique("QuillometOld");
  const pid_t p = StartAs(program);
  fs::remove(program);  // an update deletes and writes the file anew
  EXPECT_EQ(platform::ProcessesNamed(program.filename().string()), std::vector<pid_t>{p});
  EXPECT_TRUE(platform::KillProcessByName(program.filename().string()));
  int sig = 0;
  EXPECT_TRUE(EndedBySignal(p, sig));
}

TEST(Processes, AProgramFileStopsOnlyTheProcessRunningFromItsFolder) {
  const std::string name = Unique("QuillometInstalled");
  const pid_t elsewhere = StartAs(testenv::makeDir("ailleurs") / name);
  const fs::path installed = testenv::makeDir("installe") / name;
  const pid_t mine = StartAs(installed);
  ASSERT_LT(elsewhere, mine) << "pids wrapped around";
  // Asked through a link to the folder, as a program started through one would be.
  const fs::path link = testenv::testRoot() / "lien";
  fs::create_directory_symlink(installed.parent_path(), link);

  EXPECT_FALSE(platform::KillProgram((testenv::makeDir("vide") / name).string()));
  EXPECT_TRUE(platform::KillProgram((link / name).string()));
  int sig = 0;
  EXPECT_TRUE(EndedBySignal(mine, sig));
  EXPECT_EQ(waitpid(elsewhere, nullptr, WNOHANG), 0) << "a program of that name run from another folder was stopped";
  Reap(elsewhere);
}
