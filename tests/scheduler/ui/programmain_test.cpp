// The real Quillomet program: started again while an instance runs, on lock files left,
// replaced or planted, and what the programs it starts see of its environment.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/foldersnapshot.h"
#include "tests/support/testenv.h"
#include "tests/support/xvfb.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kProgram = std::string(QUILLOMET_BINARY_DIR) + "/bin/Quillomet";

// The desktop's opener, as the program finds it on PATH: it writes the environment it was
// given to Opened() and says the help is open. A first run opens the help from its creation
// handler, so the file also tells that a start got that far.
fs::path Opened() { return testenv::testRoot() / "opened.env"; }
fs::path OpenerFolder() {
  const fs::path bin = testenv::testRoot() / "bin";
  if (!fs::exists(bin / "xdg-open")) {
    const fs::path part = Opened().string() + ".part";
    testenv::writeFile(bin / "xdg-open", "#!/bin/sh\nenv > '" + part.string() + "' && mv '" + part.string() + "' '" +
                                             Opened().string() + "'\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  }
  return bin;
}

// Quillomet with its own data and runtime folders and the opener above. Extra "NAME=value"
// entries replace the environment's, a bare "NAME" removes it; standard error goes to errFd
// when one is given.
pid_t Start(const fs::path& dataHome, const fs::path& runtime, std::vector<std::string> extra = {}, int errFd = -1) {
  auto named = [](const std::string& entry, const std::string& name) {
    return entry == name || entry.rfind(name + "=", 0) == 0;
  };
  auto mentioned = [&](const std::string& name) {
    return std::any_of(extra.begin(), extra.end(), [&](const std::string& x) { return named(x, name); });
  };
  extra.push_back("XDG_DATA_HOME=" + dataHome.string());
  extra.push_back("XDG_RUNTIME_DIR=" + runtime.string());
  if (!mentioned("QT_QPA_PLATFORM")) extra.push_back("QT_QPA_PLATFORM=offscreen");
  const char* path = std::getenv("PATH");
  extra.push_back("PATH=" + OpenerFolder().string() + ":" + (path ? path : "/usr/bin:/bin"));
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    const std::string name = v.substr(0, v.find('='));
    if (!mentioned(name)) env.push_back(v);
  }
  for (const std::string& x : extra)
    if (x.find('=') != std::string::npos) env.push_back(x);
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
  kill(pid, SIGCONT);  // a stopped process would not see the SIGTERM
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
  pid_t add(pid_t pid) {
    pids.push_back(pid);
    return pid;
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
  do {
    int st = 0;
    if (testenv::hasEnded(pid, &st)) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    poll(nullptr, 0, 20);
  } while (std::chrono::steady_clock::now() < end);
  return -1;
}

// Whether the process holds a flock on the file, as the kernel lists it in /proc/locks: the
// test looks without taking the lock, which would turn the program's own start away.
bool HoldsLock(pid_t pid, const fs::path& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return false;
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream in(line);
    std::string number, kind, advisory, mode, holder, where;
    if (!(in >> number >> kind >> advisory >> mode >> holder >> where) || kind != "FLOCK") continue;
    const auto colon = where.rfind(':');
    if (holder == std::to_string(pid) && colon != std::string::npos && where.substr(colon + 1) == std::to_string(st.st_ino))
      return true;
  }
  return false;
}

// The state letter of /proc/PID/stat ("T" once stopped).
char ProcessState(pid_t pid) {
  const std::string stat = testenv::readFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

// What a folder holds, with the modes and modification times of every entry and of the folder
// itself: a start that writes nothing there leaves it equal.
std::map<std::string, std::string> Stamp(const fs::path& root) {
  auto out = testenv::snapshot(root);
  out["."] = "";
  for (auto& [name, v] : out) {
    struct stat st;
    if (lstat((root / name).c_str(), &st) == 0)
      v += " mode " + std::to_string(st.st_mode) + " @" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
  }
  return out;
}

// What a process wrote to the pipe until it closed it.
std::string Drain(int fd) {
  std::string said;
  pollfd p{fd, POLLIN, 0};
  char buf[512];
  for (ssize_t n; poll(&p, 1, 60000) == 1 && (n = read(fd, buf, sizeof buf)) > 0;) said.append(buf, static_cast<size_t>(n));
  close(fd);
  return said;
}

fs::path PrivateFolder(const std::string& name) {
  const fs::path dir = testenv::makeDir(name);
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
  return dir;
}

// A data home whose data folder holds a timetable but no settings: a first run, which keeps
// its window and opens the help, and after its start writes nothing of its own there.
fs::path DataHome(const std::string& name) {
  const fs::path home = testenv::makeDir(name);
  testenv::writeFile(home / "Quillomet" / "quillo-vz.dat", "\n0|1|0|0|0|0|0|0|0|/nulle/part|*.*|/tmp/nulle|1|0|\n");
  fs::permissions(home / "Quillomet", fs::perms::owner_all, fs::perm_options::replace);
  fs::permissions(home / "Quillomet" / "quillo-vz.dat", fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace);
  return home;
}

// Starts Quillomet and waits until it holds both locks and its creation handler has run.
pid_t StartAndWaitUp(Reaper& reaper, const fs::path& home, const fs::path& runtime) {
  fs::remove(Opened());
  const pid_t pid = reaper.add(Start(home, runtime));
  EXPECT_GT(pid, 0);
  EXPECT_TRUE(WaitUntil([&] {
    return fs::exists(Opened()) && HoldsLock(pid, runtime / "Quillomet.lock") &&
           HoldsLock(pid, home / "Quillomet" / "Quillomet.lock");
  })) << "the instance did not start";
  fs::remove(Opened());
  return pid;
}

// A later start ends with 0 on its own, says nothing, opens nothing and writes nothing.
void ExpectEndsSilently(Reaper& reaper, const fs::path& home, const fs::path& runtime, const fs::path& watched) {
  const auto before = Stamp(watched);
  int err[2];
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  const pid_t later = reaper.add(Start(home, runtime, {}, err[1]));
  close(err[1]);
  ASSERT_GT(later, 0);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitFor(later, std::chrono::seconds(60)), 0);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_EQ(Drain(err[0]), "");
  EXPECT_EQ(Stamp(watched), before) << "the later start wrote into " << watched;
  EXPECT_FALSE(fs::exists(Opened())) << "the later start ran the creation handler";
  ::testing::Test::RecordProperty("later_start_ms", std::to_string(took.count()));
}

TEST(ProgramMain, ALaterStartEndsAtOnceWithZeroAndWritesNothing) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  const struct {
    const char* what;
    bool stopped;       // the running instance cannot answer anything
    bool otherRuntime;  // the later start has another runtime folder: only the data folder's lock is common
    bool otherData;     // the later start has another data folder: only the runtime lock is common
  } cases[] = {
      {"the instance answers", false, false, false},
      {"the instance is stopped", true, false, false},
      {"another runtime folder on the same data folder", false, true, false},
      {"another runtime folder, the instance stopped", true, true, false},
      {"the same runtime folder with another data folder", false, false, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string tag = std::to_string(n++);
    const fs::path runtime = PrivateFolder("runtime" + tag);
    const fs::path home = DataHome("home" + tag);
    Reaper reaper;
    const pid_t first = StartAndWaitUp(reaper, home, runtime);
    if (HasFailure()) return;
    if (c.stopped) {
      ASSERT_EQ(kill(first, SIGSTOP), 0);
      ASSERT_TRUE(WaitUntil([&] { return ProcessState(first) == 'T'; }));
    }
    const fs::path laterRuntime = c.otherRuntime ? PrivateFolder("runtime-later" + tag) : runtime;
    // Another data home stays as it was: not even its data folder is made.
    const fs::path laterHome = c.otherData ? testenv::makeDir("home-later" + tag) : home;
    const auto firstData = Stamp(home);
    ExpectEndsSilently(reaper, laterHome, laterRuntime, laterHome);
    EXPECT_EQ(Stamp(home), firstData);
    EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(0)), -1) << "the instance goes on";
    if (c.stopped) {
      EXPECT_EQ(ProcessState(first), 'T') << "the instance was not woken";
    }
  }
}

// Lock files outlive their holders, may be replaced under a running instance, or be planted
// by someone else: none of that blocks a start for ever, hangs it, or lets two instances share
// a data folder.
TEST(ProgramMain, LocksLeftReplacedOrPlantedNeitherBlockNorHang) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  {
    SCOPED_TRACE("left by a killed instance");
    const fs::path runtime = PrivateFolder("runtime-left");
    const fs::path home = DataHome("home-left");
    Reaper reaper;
    const pid_t killed = StartAndWaitUp(reaper, home, runtime);
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    ASSERT_EQ(WaitFor(killed, std::chrono::seconds(60)), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(runtime / "Quillomet.lock"));
    ASSERT_TRUE(fs::exists(home / "Quillomet" / "Quillomet.lock"));
    StartAndWaitUp(reaper, home, runtime);
  }
  int n = 0;
  for (const char* replaced : {"Quillomet.lock", "Quillomet/Quillomet.lock"}) {
    SCOPED_TRACE(std::string("replaced under the running instance: ") + replaced);
    const std::string tag = std::to_string(n++);
    const fs::path runtime = PrivateFolder("runtime-replaced" + tag);
    const fs::path home = DataHome("home-replaced" + tag);
    Reaper reaper;
    const pid_t first = StartAndWaitUp(reaper, home, runtime);
    if (HasFailure()) return;
    // A new file in its place: a later start takes that one, and the other lock turns it away.
    const fs::path lock = (fs::path(replaced).has_parent_path() ? home : runtime) / replaced;
    fs::remove(lock);
    testenv::writeFile(lock, "");
    ExpectEndsSilently(reaper, home, runtime, home);
    EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(0)), -1);
  }
  const struct {
    const char* what;
    void (*plant)(const fs::path& lock, const fs::path& elsewhere);
  } planted[] = {
      {"a FIFO", [](const fs::path& lock, const fs::path&) { ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0); }},
      {"a folder", [](const fs::path& lock, const fs::path&) { fs::create_directory(lock); }},
      {"a link to a file",
       [](const fs::path& lock, const fs::path& elsewhere) {
         testenv::writeFile(elsewhere, "not a lock");
         fs::create_symlink(elsewhere, lock);
       }},
      {"a dangling link", [](const fs::path& lock, const fs::path& elsewhere) { fs::create_symlink(elsewhere, lock); }},
  };
  for (const auto& p : planted) {
    // In the data folder only: the runtime lock's fallback is a shared /tmp file, which the
    // lock's own tests try under a name of their own.
    SCOPED_TRACE(std::string("planted in the data folder's lock: ") + p.what);
    const std::string tag = std::to_string(n++);
    const fs::path runtime = PrivateFolder("runtime-planted" + tag);
    const fs::path home = DataHome("home-planted" + tag);
    const fs::path elsewhere = testenv::testRoot() / ("elsewhere" + tag);
    p.plant(home / "Quillomet" / "Quillomet.lock", elsewhere);
    const auto outside = fs::exists(elsewhere) ? testenv::readFile(elsewhere) : std::string("absent");
    Reaper reaper;
    fs::remove(Opened());
    const pid_t pid = reaper.add(Start(home, runtime));
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(Opened()) && HoldsLock(pid, runtime / "Quillomet.lock"); }))
        << "the start hung or ended";
    EXPECT_EQ(fs::exists(elsewhere) ? testenv::readFile(elsewhere) : std::string("absent"), outside)
        << "the link was followed";
    EXPECT_TRUE(fs::exists(fs::symlink_status(home / "Quillomet" / "Quillomet.lock"))) << "the planted entry went";
  }
}

// The program prefers X11 for itself only: what it starts (here the help's opener) gets the
// user's own QT_QPA_PLATFORM, or none when the user set none.
TEST(ProgramMain, ProgramsItStartsGetTheUsersEnvironment) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  auto seen = [](const std::string& env) {
    std::istringstream in(env);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("QT_QPA_PLATFORM=", 0) == 0) return line;
    return std::string("none");
  };
  // The environment the help's opener got from a first run started with env.
  const auto readOpened = [&](const std::vector<std::string>& env, const std::string& name) {
    const fs::path runtime = PrivateFolder("runtime-" + name);
    const fs::path home = DataHome("home-" + name);
    Reaper reaper;
    fs::remove(Opened());
    const pid_t pid = reaper.add(Start(home, runtime, env));
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(Opened()); })) << "the help was not opened";
    EXPECT_EQ(WaitFor(pid, std::chrono::milliseconds(0)), -1) << "the program ended";
    return fs::exists(Opened()) ? testenv::readFile(Opened()) : std::string();
  };
  EXPECT_EQ(seen(readOpened({"QT_QPA_PLATFORM=offscreen"}, "offscreen")), "QT_QPA_PLATFORM=offscreen");

  if (Output("command -v Xvfb").empty()) GTEST_SKIP() << "no Xvfb for the X11 preference";
  testenv::Xvfb server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  // A Wayland session beside an X server: the program asks for X11 and runs there (the named
  // Wayland display does not exist, so X11 is the only way it can show a window at all).
  const std::string env = readOpened({"QT_QPA_PLATFORM", "DISPLAY=" + server.display(), "XDG_SESSION_TYPE=wayland",
                                      "WAYLAND_DISPLAY=quillomet-test-no-compositor"},
                                     "wayland");
  EXPECT_NE(env.find("WAYLAND_DISPLAY=quillomet-test-no-compositor"), std::string::npos) << env;
  EXPECT_EQ(seen(env), "none");
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
// itself a second after it starts; a later start ends with 0 and leaves that window as it is.
TEST(ProgramMain, ALaterStartLeavesTheRunningWindowAsItIsOnADesktop) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillomet is not built: " << kProgram;
  for (const char* tool : {"Xvfb", "openbox", "xprop"})
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
    if (!exited) reaper.add(wm);
  }
  if (!managed) {
    const std::string said = fs::exists(wmLog) ? testenv::readFile(wmLog) : std::string();
    GTEST_SKIP() << "openbox did not manage " << display << " (no desktop to test on); openbox said: " << said;
  }

  const fs::path runtime = PrivateFolder("runtime-x");
  const fs::path home = testenv::makeDir("home-x");
  // A later run: the window hides (here: minimises) after a second.
  testenv::writeFile(home / "Quillomet" / "serie.ini", "[Form1]\n");
  const std::vector<std::string> desktop = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"};
  const pid_t first = reaper.add(Start(home, runtime, desktop));
  ASSERT_GT(first, 0);

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
  ASSERT_TRUE(WaitUntil([&] { return state().find("Iconic") != std::string::npos; })) << state();
  const std::string active = Output(x + "xprop -root _NET_ACTIVE_WINDOW");

  const pid_t second = reaper.add(Start(testenv::makeDir("home-second"), runtime, desktop));
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitFor(second, std::chrono::seconds(60)), 0);
  EXPECT_NE(state().find("Iconic"), std::string::npos) << "the window was shown: " << state();
  EXPECT_EQ(Output(x + "xprop -root _NET_ACTIVE_WINDOW"), active) << "another window was activated";
  EXPECT_EQ(WaitFor(first, std::chrono::milliseconds(0)), -1) << "the first instance goes on";
}

}  // namespace
