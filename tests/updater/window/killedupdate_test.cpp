// The updater killed (SIGKILL) while it puts the files of a large update in place; the next
// start of Update or of Quillomet leaves one whole version in the program folder, with the
// record of its release and without the downloaded archive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/stagedinstall.h"
#include "tests/support/testenv.h"
#include "tests/updater/window/httpserver.h"
#include "tests/updater/window/testkey.h"
#include "tests/updater/window/zipwriter.h"
#include "updater/updaterun.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kBin = std::string(QUILLOMET_BINARY_DIR) + "/bin/";

pid_t Spawn(const std::vector<std::string>& args, const fs::path& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Waits for the condition while the process runs, looking every `every`; true once it holds.
bool WaitWhileRunning(pid_t pid, const std::function<bool()>& holds, std::chrono::seconds limit,
                      std::chrono::microseconds every = std::chrono::microseconds(200)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (holds()) return true;
    if (testenv::hasEnded(pid)) return holds();  // not reaped: Stop still owns the id
    std::this_thread::sleep_for(every);
  }
  return false;
}

// Many small files, written without a look at their folders each time.
void WriteFiles(const fs::path& folder, int count, const std::function<std::string(int)>& name,
                const std::function<std::string(int)>& text) {
  for (int i = 0; i < count; ++i) {
    const fs::path path = folder / name(i);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
      fs::create_directories(path.parent_path());
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    ASSERT_GE(fd, 0) << path;
    const std::string bytes = text(i);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())) << path;
    ::close(fd);
  }
}

void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name == updater::kReleaseRecord) continue;  // installed with the files, not left behind
    if (name.rfind(".Quillomet", 0) == 0 || name.rfind("..Quillomet", 0) == 0 || name == "Quillomet.zip")
      out.push_back(name);
  }
  return out;
}

std::string FileName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "d%02d/f%05d.txt", i % 30, i);
  return name;
}

// The updater killed while it installs `files` files, then `program` started; as many files as
// keep the install under way when the kill comes on a loaded machine.
void KillThenStart(const char* program, int files) {
  for (const char* p : {"update_driver", "Update", "Quillomet"})
    if (!fs::exists(kBin + p)) GTEST_SKIP() << p << " is not built";
  testhttp::Server server;
  const testkey::KeyPair publisher;
  const fs::path folder = testenv::makeDir(std::string("programmes-") + program);
  // A name of this test's own: the run stops the processes of that name.
  const std::string exe = "Quillomet-k" + std::to_string(getpid());
  const std::string oldProgram = "#!/bin/sh\n# ancienne version\n", newProgram = "#!/bin/sh\n# nouvelle version\n";
  testenv::writeFile(folder / exe, oldProgram);
  fs::permissions(folder / exe, fs::perms(0755));
  const timespec old[2] = {{1710000000, 0}, {1710000000, 0}};  // 9 March 2024
  ASSERT_EQ(utimensat(AT_FDCWD, (folder / exe).c_str(), old, 0), 0);
  std::vector<testzip::Entry> entries{testzip::UnixFile(exe, newProgram, 0755)};
  const auto oldText = [](int i) { return "ancien " + std::to_string(i); };
  const auto newText = [](int i) { return "nouveau " + std::to_string(i); };
  ASSERT_NO_FATAL_FAILURE(WriteFiles(folder, files, FileName, oldText));
  for (int i = 0; i < files; ++i) entries.push_back(testzip::UnixFile(FileName(i), newText(i)));
  const std::string archive = testzip::Archive(entries);
  server.Set("/quillomet/update.html", {200, "12/03/2024\r\n"});
  server.Set("/rv/Quillomet.zip", {200, archive});
  server.Set("/rv/Quillomet.zip.sig", {200, publisher.SignRelease(archive, "2024-03-12")});

  // The program file is the first one put in place: once it is new, the install is under way.
  const fs::path journal = folder / ".Quillomet-installation";
  const pid_t updater = Spawn({kBin + "update_driver", folder.string(), exe, server.Base(), publisher.PublicHex()},
                              testenv::testRoot() / "driver.txt");
  ASSERT_GT(updater, 0);
  const bool installing = WaitWhileRunning(
      updater, [&] { return fs::exists(journal) && testenv::readFile(folder / exe) == newProgram; },
      std::chrono::seconds(240));
  kill(updater, SIGKILL);
  waitpid(updater, nullptr, 0);
  ASSERT_TRUE(installing) << testenv::readFile(testenv::testRoot() / "driver.txt");
  ASSERT_TRUE(fs::exists(journal)) << "the install ended before the kill";
  int newer = 0;
  for (int i = 0; i < files; ++i) newer += testenv::readFile(folder / FileName(i)) == newText(i);
  EXPECT_LT(newer, files) << "the kill came after the last file";
  const auto left = Leftovers(folder);
  EXPECT_FALSE(left.empty());
  // The verified archive waits under a name of the install's, not as Quillomet.zip.
  EXPECT_FALSE(fs::exists(folder / "Quillomet.zip"));
  EXPECT_EQ(std::count_if(left.begin(), left.end(),
                          [](const std::string& n) { return n.rfind(".Quillomet-nouveau-", 0) == 0 && n.ends_with(".zip"); }),
            1);

  // The next start, of a copy of the real program in that folder; no hurry to see it done.
  fs::copy_file(kBin + program, folder / program);
  const pid_t next = Spawn({(folder / program).string()}, testenv::testRoot() / "next.txt");
  ASSERT_GT(next, 0);
  const bool whole = WaitWhileRunning(next, [&] { return Leftovers(folder).empty(); }, std::chrono::seconds(240),
                                      std::chrono::milliseconds(5));
  Stop(next);
  ASSERT_TRUE(whole) << testenv::readFile(testenv::testRoot() / "next.txt");
  EXPECT_EQ(testenv::readFile(folder / exe), newProgram);
  EXPECT_EQ(fs::status(folder / exe).permissions(), fs::perms(0755));
  // The release recorded is the one whose files are there.
  EXPECT_EQ(testenv::readFile(folder / updater::kReleaseRecord), "2024-03-12\n");
  int wrong = 0;
  for (int i = 0; i < files; ++i) wrong += testenv::readFile(folder / FileName(i)) != newText(i);
  EXPECT_EQ(wrong, 0);
}

}  // namespace

TEST(KilledUpdate, NextStartOfUpdateLeavesOneWholeVersion) { KillThenStart("Update", 30000); }
TEST(KilledUpdate, NextStartOfQuillometLeavesOneWholeVersion) { KillThenStart("Quillomet", 3000); }

// A download cut by a kill leaves its partial file beside the program files; no other start
// touches it while the updater runs, and the next one removes it.
TEST(KilledUpdate, PartialDownloadGoesAtTheNextStart) {
  if (!fs::exists(kBin + "update_driver")) GTEST_SKIP() << "update_driver is not built";
  testhttp::Server server;
  const testkey::KeyPair publisher;
  const fs::path folder = testenv::makeDir("programmes");
  const std::string exe = "Quillomet-k" + std::to_string(getpid());
  testenv::writeFile(folder / exe, "#!/bin/sh\n");
  const timespec old[2] = {{1710000000, 0}, {1710000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (folder / exe).c_str(), old, 0), 0);
  const std::string archive(200000, 'a');
  server.Set("/quillomet/update.html", {200, "12/03/2024\r\n"});
  server.Set("/rv/Quillomet.zip", testhttp::Reply::Stalled(archive, std::chrono::seconds(60)));
  server.Set("/rv/Quillomet.zip.sig", {200, publisher.SignRelease(archive, "2024-03-12")});
  const pid_t updater = Spawn({kBin + "update_driver", folder.string(), exe, server.Base(), publisher.PublicHex()},
                              testenv::testRoot() / "driver.txt");
  ASSERT_GT(updater, 0);
  const bool downloading = WaitWhileRunning(updater, [&] { return !Leftovers(folder).empty(); }, std::chrono::seconds(60));
  EXPECT_TRUE(platform::FinishInterruptedInstall(folder).Ok);
  const auto partial = Leftovers(folder);
  kill(updater, SIGKILL);
  waitpid(updater, nullptr, 0);
  ASSERT_TRUE(downloading) << testenv::readFile(testenv::testRoot() / "driver.txt");
  ASSERT_EQ(partial.size(), 1u) << "removed while the updater ran";
  EXPECT_EQ(partial[0].substr(partial[0].size() - 4), ".zip");

  EXPECT_TRUE(platform::FinishInterruptedInstall(folder).Ok);
  EXPECT_TRUE(Leftovers(folder).empty());
  EXPECT_EQ(testenv::readFile(folder / exe), "#!/bin/sh\n");
}
