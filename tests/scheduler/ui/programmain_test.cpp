// The real Quillomet program, started twice for one user.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/instancechannel.h"
#include "platform/singleinstance.h"
#include "tests/support/testenv.h"
#include "tests/support/xvfb.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kProgram = std::string(QUILLOMET_BINARY_DIR) + "/bin/Quillomet";

// Quillomet with its own data and runtime folders; extra "NAME=value" entries replace the
// environment's, and its standard error goes to errFd when one is given.
pid_t Start(const fs::path& dataHome, const fs::path& runtime, std::vector<std::string> extra = {}, int errFd = -1) {
  extra.push_back("XDG_DATA_HOME=" + dataHome.string());
  extra.push_back("XDG_RUNTIME_DIR=" + runtime.string());
  if (std::none_of(extra.begin(), extra.end(), [](const std::string& v) { return v.rfind("QT_QPA_PLATFORM=", 0) == 0; }))
    extra.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    const std::string name = v.substr(0, v.find('=') + 1);
    if (std::none_of(extra.begin(), extra.end(), [&](const std::string& x) { return x.rfind(name, 0) == 0; }))
      env.push_back(v);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(kProgram.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  int st = 0;
  for (int i = 0; i < 250 && waitpid(pid, &st, WNOHANG) == 0; ++i) poll(nullptr, 0, 20);
  if (waitpid(pid, &st, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// Ends the processes a test started, on every way out of it.
struct Reaper {
  std::vector<pid_t> pids;
  ~Reaper() {
    for (auto it = pids.rbegin(); it != pids.rend(); ++it)
      if (*it > 0) Stop(*it);
  }
};

// Waits up to the limit for the condition; true once it holds.
template <class F>
bool WaitUntil(F condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    poll(nullptr, 0, 20);
  }
  return true;
}

// Standard output of a shell command.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// Exit status of pid within the time, or -1 while it still runs. The child is left to Stop to
// reap, so that its id is never another process's when Stop signals it.
int WaitFor(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int st = 0;
    if (testenv::hasEnded(pid, &st)) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

const std::string kNoAnswer = "Quillomet est déjà en cours d'exécution mais ne répond pas.";

// The start writes the French text beside its box, which waits for the user: the program has
// not ended on its own. Stops it, closes errFd.
void ExpectNoAnswerReported(pid_t start, int errFd) {
  std::string said;
  pollfd p{errFd, POLLIN, 0};
  while (said.find(kNoAnswer) == std::string::npos && poll(&p, 1, 60000) == 1) {
    char buf[256];
    const ssize_t n = read(errFd, buf, sizeof buf);
    if (n <= 0) break;
    said.append(buf, static_cast<size_t>(n));
  }
  EXPECT_NE(said.find(kNoAnswer), std::string::npos) << said;
  EXPECT_EQ(WaitFor(start, std::chrono::milliseconds(100)), -1);
  Stop(start);
  close(errFd);
}

TEST(ProgramMain, SecondStartShowsTheFirstAndEndsWithoutWindowOfItsOwn) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  const fs::path runtime = testenv::makeDir("runtime");
  const fs::path firstHome = testenv::makeDir("first");
  const fs::path secondHome = testenv::makeDir("second");

  Reaper reaper;
  const pid_t first = Start(firstHome, runtime);
  ASSERT_GT(first, 0);
  reaper.pids.push_back(first);
  // The first instance is up once its window loop answers (however slow its start on a loaded
  // machine); the later start then has its answer at once.
  EXPECT_EQ(platform::AskToShow(platform::InstanceSocketPath((runtime / "Quillomet.lock").string()),
                                std::chrono::seconds(60), std::chrono::seconds(60)),
            platform::AskResult::Shown)
      << "the first instance did not start";

  const pid_t second = Start(secondHome, runtime);
  ASSERT_GT(second, 0);
  reaper.pids.push_back(second);
  EXPECT_EQ(WaitFor(second, std::chrono::seconds(60)), 0);
  // It created no window: its creation handler never ran, so it made no data folder.
  EXPECT_TRUE(fs::is_empty(secondHome));
  // The first one goes on.
  EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(300)), -1);

  Stop(first);
  reaper.pids.erase(reaper.pids.begin());
  // With the first gone, a new start runs again.
  const pid_t third = Start(secondHome, runtime);
  ASSERT_GT(third, 0);
  reaper.pids.push_back(third);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(secondHome / "Quillomet") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fs::exists(secondHome / "Quillomet"));
}

// The instance holding the lock cannot be reached: the later start says so, in French, and
// neither ends as if all went well nor starts a second instance on the data folder.
TEST(ProgramMain, AnInstanceThatDoesNotAnswerIsReported) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  for (const bool listening : {false, true}) {
    SCOPED_TRACE(listening ? "hung instance" : "no channel");
    const fs::path runtime = testenv::makeDir(listening ? "runtime-hung" : "runtime-none");
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path home = testenv::makeDir(listening ? "home-hung" : "home-none");
    platform::InstanceLock holder;
    ASSERT_EQ(holder.AcquireFile((runtime / "Quillomet.lock").string()), platform::LockResult::Acquired);
    // A hung instance: its socket takes the connection, nobody reads it.
    platform::InstanceChannel hung;
    if (listening) {
      ASSERT_TRUE(hung.Listen(platform::InstanceSocketPath(holder.Path())));
    }

    int err[2];
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    const pid_t later = Start(home, runtime, {}, err[1]);
    close(err[1]);
    ASSERT_GT(later, 0);
    ExpectNoAnswerReported(later, err[0]);
    EXPECT_TRUE(fs::is_empty(home)) << "no window of its own, nothing written";
  }
}

// A start with another runtime folder finds the data folder taken: it reports the instance it
// cannot reach and leaves the data folder to it.
TEST(ProgramMain, TwoRuntimeFoldersNeverShareADataFolder) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  const fs::path home = testenv::makeDir("shared");
  const fs::path firstRuntime = testenv::makeDir("runtime-a");
  const fs::path laterRuntime = testenv::makeDir("runtime-b");
  for (const auto& r : {firstRuntime, laterRuntime}) fs::permissions(r, fs::perms::owner_all, fs::perm_options::replace);
  const pid_t first = Start(home, firstRuntime);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(platform::InstanceSocketPath((firstRuntime / "Quillomet.lock").string())); }));
  int err[2];
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  const pid_t later = Start(home, laterRuntime, {}, err[1]);
  close(err[1]);
  ASSERT_GT(later, 0);
  ExpectNoAnswerReported(later, err[0]);
  EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(100)), -1) << "the first instance goes on";
  Stop(first);
}

// openbox on the display, its output appended to log; -1 when the fork fails.
pid_t StartWindowManager(const std::string& display, const fs::path& log) {
  const pid_t wm = fork();
  if (wm == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
    _exit(127);
  }
  return wm;
}

// On a real desktop (Xvfb and openbox, no notification area): the first instance minimises
// itself a second after it starts; a later start brings its window back and ends with 0.
TEST(ProgramMain, SecondStartRestoresTheMinimisedWindowOnADesktop) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  for (const char* tool : {"Xvfb", "openbox", "xprop", "xwininfo"})
    if (Output(std::string("command -v ") + tool).empty()) GTEST_SKIP() << "no " << tool;
  testenv::Xvfb server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  const std::string display = server.display();
  const std::string x = "DISPLAY=" + display + " ";
  Reaper reaper;  // declared after the server: its processes end before it does

  // The window manager is the test's desktop, not the program under test: one that exits
  // before it manages the screen is started again, and the test's premise fails only then.
  const fs::path wmLog = testenv::makeDir("openbox") / "openbox.log";
  bool managed = false;
  for (int attempt = 0; attempt < 3 && !managed; ++attempt) {
    const pid_t wm = StartWindowManager(display, wmLog);
    ASSERT_GT(wm, 0);
    bool exited = false;
    WaitUntil([&] {
      managed = Output(x + "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") != std::string::npos;
      exited = !managed && waitpid(wm, nullptr, WNOHANG) == wm;
      return managed || exited;
    });
    if (!exited) reaper.pids.push_back(wm);
  }
  if (!managed) {
    const std::string said = fs::exists(wmLog) ? testenv::readFile(wmLog) : std::string();
    const std::string xprop = Output(x + "xprop -root _NET_SUPPORTING_WM_CHECK 2>&1");
    GTEST_SKIP() << "openbox did not manage " << display << " (no desktop to test on); openbox said: " << said
                 << "; xprop said: " << xprop;
  }

  const fs::path runtime = testenv::makeDir("runtime-x");
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  const fs::path home = testenv::makeDir("home-x");
  // A later run: the window hides (here: minimises) after a second.
  testenv::writeFile(home / "Quillomet" / "serie.ini", "[Form1]\n");
  const std::vector<std::string> desktop = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"};
  const pid_t first = Start(home, runtime, desktop);
  ASSERT_GT(first, 0);
  reaper.pids.push_back(first);

  // The first instance's main window, by the process id it carries.
  std::string window;
  auto state = [&] { return Output(x + "xprop -id " + window + " WM_STATE"); };
  const bool found = WaitUntil([&] {
    const std::string list = Output(x + "xprop -root _NET_CLIENT_LIST");
    for (size_t at = list.find("0x"); at != std::string::npos; at = list.find("0x", at + 2)) {
      const std::string id = list.substr(at, list.find_first_not_of("0123456789abcdefx", at) - at);
      if (Output(x + "xprop -id " + id + " _NET_WM_PID").find("= " + std::to_string(first)) != std::string::npos) {
        window = id;
        return true;
      }
    }
    return false;
  });
  ASSERT_TRUE(found) << "no window of the first instance";
  EXPECT_TRUE(WaitUntil([&] { return state().find("Iconic") != std::string::npos; })) << state();

  const pid_t second = Start(testenv::makeDir("home-second"), runtime, desktop);
  ASSERT_GT(second, 0);
  reaper.pids.push_back(second);
  EXPECT_EQ(WaitFor(second, std::chrono::seconds(60)), 0);
  EXPECT_TRUE(WaitUntil([&] { return state().find("Normal") != std::string::npos; })) << state();
  EXPECT_NE(Output(x + "xwininfo -id " + window).find("IsViewable"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return Output(x + "xprop -root _NET_ACTIVE_WINDOW").find(window) != std::string::npos; }))
      << "the window was not activated";
  EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(100)), -1) << "the first instance goes on";
}

}  // namespace
