#include "platform/singleinstance.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/testenv.h"

namespace {

using platform::InstanceLock;
using platform::LockResult;

// Runs fn in a child process and returns its exit code.
template <class F>
int InChild(F fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(InstanceLock, SecondProcessFindsItBusyUntilTheFirstEnds) {
  const std::string path = (testenv::testRoot() / "Quillomet.lock").string();
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t first = fork();
  if (first == 0) {
    InstanceLock lock;
    const char r = lock.AcquireFile(path) == LockResult::Acquired ? 'y' : 'n';
    (void)!write(ready[1], &r, 1);
    char c;
    (void)!read(go[0], &c, 1);
    _exit(0);
  }
  char r = 0;
  ASSERT_EQ(read(ready[0], &r, 1), 1);
  ASSERT_EQ(r, 'y');
  EXPECT_EQ(InChild([&] {
              InstanceLock lock;
              return lock.AcquireFile(path) == LockResult::Busy ? 0 : 1;
            }),
            0);
  (void)!write(go[1], "x", 1);
  waitpid(first, nullptr, 0);
  InstanceLock after;
  EXPECT_EQ(after.AcquireFile(path), LockResult::Acquired);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
}

TEST(InstanceLock, ProgramsStartedByTheHolderNeverKeepIt) {
  // The updater restarts the scheduler: a lock inherited by a child would outlive its holder.
  const std::string path = (testenv::testRoot() / "Quillomet.lock").string();
  int pids[2];
  ASSERT_EQ(pipe(pids), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    InstanceLock lock;
    if (lock.AcquireFile(path) != LockResult::Acquired) _exit(1);
    const pid_t child = fork();
    if (child == 0) {
      execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    (void)!write(pids[1], &child, sizeof child);
    _exit(0);
  }
  pid_t child = 0;
  ASSERT_EQ(read(pids[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
  int st = 0;
  waitpid(holder, &st, 0);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  // Once the child has passed exec the lock must be free while the child still runs; an
  // inherited descriptor would keep it taken for the child's 30 s.
  InstanceLock lock;
  LockResult result = LockResult::Busy;
  for (int i = 0; i < 500 && result != LockResult::Acquired; ++i) {
    result = lock.AcquireFile(path);
    if (result != LockResult::Acquired) usleep(10 * 1000);
  }
  EXPECT_EQ(result, LockResult::Acquired);
  EXPECT_EQ(kill(child, 0), 0) << "the child ended before the check";
  kill(child, SIGKILL);
  close(pids[0]);
  close(pids[1]);
}

TEST(InstanceLock, RuntimeFolderFirstThenTmpFallback) {
  const std::string name = "QuillometLockTest-" + std::to_string(getpid());
  const std::string runtime = testenv::makeDir("runtime").string();
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_EQ(InstanceLock::PathFor(name), runtime + "/" + name + ".lock");
  {
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(name), LockResult::Acquired);
    EXPECT_TRUE(std::filesystem::exists(runtime + "/" + name + ".lock"));
  }
  // A runtime folder that is no folder (ENOTDIR): the lock goes to /tmp.
  const std::string notDir = testenv::writeFile(testenv::testRoot() / "file", "").string();
  setenv("XDG_RUNTIME_DIR", notDir.c_str(), 1);
  const std::string tmpLock = "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
  {
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(name), LockResult::Acquired);
    EXPECT_TRUE(std::filesystem::exists(tmpLock));
    InstanceLock second;
    EXPECT_EQ(second.Acquire(name), LockResult::Busy);
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLock::PathFor(name), tmpLock);
  std::filesystem::remove(tmpLock);
}

TEST(InstanceLock, UnopenableFileIsAFailureNotABusyLock) {
  const std::string notDir = testenv::writeFile(testenv::testRoot() / "file", "").string();
  InstanceLock lock;
  EXPECT_EQ(lock.AcquireFile(notDir + "/Quillomet.lock"), LockResult::Failed);
  EXPECT_FALSE(lock.Held());
}

// A lock that died with its holder (killed, no chance to clean up) is free again: its file
// stays and is simply taken.
TEST(InstanceLock, ALockLeftByAKilledHolderIsTakenAgain) {
  const std::string path = (testenv::testRoot() / "Quillomet.lock").string();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    InstanceLock lock;
    const char r = lock.AcquireFile(path) == LockResult::Acquired ? 'y' : 'n';
    (void)!write(ready[1], &r, 1);
    for (;;) pause();
  }
  char r = 0;
  ASSERT_EQ(read(ready[0], &r, 1), 1);
  ASSERT_EQ(r, 'y');
  InstanceLock lock;
  EXPECT_EQ(lock.AcquireFile(path), LockResult::Busy);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(lock.AcquireFile(path), LockResult::Acquired);
  close(ready[0]);
  close(ready[1]);
}

// Whatever stands at the lock's path instead of a file of ours is not used: it neither hangs
// the start (a FIFO), nor is followed (a link), nor lets another user hold every start out.
TEST(InstanceLock, WhatIsPlantedAtThePathIsNeitherFollowedNorWaitedOn) {
  namespace fs = std::filesystem;
  const fs::path root = testenv::testRoot();
  const struct {
    const char* what;
    std::function<bool(const fs::path& lock, const fs::path& elsewhere)> plant;  // false: cannot here
  } cases[] = {
      {"a FIFO", [](const fs::path& lock, const fs::path&) { return mkfifo(lock.c_str(), 0666) == 0; }},
      {"a folder", [](const fs::path& lock, const fs::path&) { return fs::create_directory(lock); }},
      {"a link to a file of ours",
       [](const fs::path& lock, const fs::path& elsewhere) {
         testenv::writeFile(elsewhere, "precious");
         fs::create_symlink(elsewhere, lock);
         return true;
       }},
      {"a link to nothing yet",
       [](const fs::path& lock, const fs::path& elsewhere) {
         fs::create_symlink(elsewhere, lock);
         return true;
       }},
      {"a file of another user",
       [](const fs::path& lock, const fs::path&) {
         testenv::writeFile(lock, "");
         return geteuid() == 0 && chown(lock.c_str(), 65534, 65534) == 0 && chmod(lock.c_str(), 0666) == 0;
       }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = testenv::makeDir("planted" + std::to_string(n++));
    const fs::path lock = dir / "Quillomet.lock", elsewhere = dir / "elsewhere";
    if (!c.plant(lock, elsewhere)) {
      std::printf("skipped here (needs root): %s\n", c.what);
      continue;
    }
    const std::string outside = fs::exists(elsewhere) ? testenv::readFile(elsewhere) : "absent";
    const fs::file_type type = fs::symlink_status(lock).type();
    InstanceLock planted;
    EXPECT_EQ(planted.AcquireFile(lock.string()), LockResult::Failed);
    EXPECT_FALSE(planted.Held());
    EXPECT_EQ(fs::exists(elsewhere) ? testenv::readFile(elsewhere) : "absent", outside);
    EXPECT_EQ(fs::symlink_status(lock).type(), type);
  }
  // In the runtime folder, such an entry sends the lock to the fallback in /tmp.
  const std::string name = "QuillometLockTest-" + std::to_string(getpid());
  const fs::path runtime = testenv::makeDir("runtime-planted");
  ASSERT_EQ(mkfifo((runtime / (name + ".lock")).c_str(), 0600), 0);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  const std::string tmpLock = "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
  {
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(name), LockResult::Acquired);
    EXPECT_EQ(lock.Path(), tmpLock);
  }
  unsetenv("XDG_RUNTIME_DIR");
  fs::remove(tmpLock);
}

}  // namespace
