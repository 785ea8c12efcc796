// The real Quillomet program, started twice for one user.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testenv.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kProgram = std::string(QUILLOMET_BINARY_DIR) + "/bin/Quillomet";

pid_t Start(const fs::path& dataHome, const fs::path& runtime) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("XDG_DATA_HOME=", 0) == 0 || v.rfind("XDG_RUNTIME_DIR=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0)
      continue;
    env.push_back(v);
  }
  env.push_back("XDG_DATA_HOME=" + dataHome.string());
  env.push_back("XDG_RUNTIME_DIR=" + runtime.string());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(kProgram.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, kProgram.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  return pid;
}

// Exit status of pid within the time, or -1 while it still runs.
int WaitFor(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

TEST(ProgramMain, SecondStartEndsAtOnceWithoutWindowWhileTheFirstRuns) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  const fs::path runtime = testenv::makeDir("runtime");
  const fs::path firstHome = testenv::makeDir("first");
  const fs::path secondHome = testenv::makeDir("second");

  const pid_t first = Start(firstHome, runtime);
  ASSERT_GT(first, 0);
  // The first instance is up once its main window has made the data folder.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(firstHome / "Quillomet") && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(firstHome / "Quillomet")) << "the first instance did not start";

  const pid_t second = Start(secondHome, runtime);
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitFor(second, std::chrono::seconds(60)), 0);
  // It created no window: its creation handler never ran, so it made no data folder.
  EXPECT_TRUE(fs::is_empty(secondHome));
  // The first one goes on.
  EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(300)), -1);

  kill(first, SIGTERM);
  if (WaitFor(first, std::chrono::seconds(5)) == -1) {
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
  }
  // With the first gone, a new start runs again.
  const pid_t third = Start(secondHome, runtime);
  ASSERT_GT(third, 0);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(secondHome / "Quillomet") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fs::exists(secondHome / "Quillomet"));
  kill(third, SIGKILL);
  waitpid(third, nullptr, 0);
}

}  // namespace
