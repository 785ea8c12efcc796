#include "scheduler/core/backuprun.h"

#include "platform/filecopy.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/scrutedossier.h"
#include "tests/support/asnobody.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>

namespace fs = std::filesystem;
using testenv::readFile;
using testenv::writeFile;

namespace {

void SetMtime(const fs::path& p, std::time_t t, long ns = 0) {
  struct timespec times[2] = {{t, ns}, {t, ns}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

std::time_t MtimeOf(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// Records what the run shows.
struct Recorder : core::RunView {
  std::vector<core::LastRunRow> rows;
  std::vector<core::HistoryRow> history;
  std::vector<std::string> alerts, idle, walked;
  int started = 0, ended = 0;
  std::map<int, std::int32_t> panels;
  std::function<void(int)> onProgress;

  void RunStarted(const core::RunJob&) override { ++started; }
  void RunEnded(const core::RunJob&) override { ++ended; }
  void IdleMarker(bool v) override { idle.push_back(v ? "true" : "false"); }
  void Panel(int i, std::int32_t v) override { panels[i] = v; }
  std::function<void(std::size_t)> onCurrent;
  void CurrentFile(const std::string& path) override {
    walked.push_back(path);
    if (onCurrent) onCurrent(walked.size());
  }
  void Progress(int p) override {
    if (onProgress) onProgress(p);
  }
  void Reported(const core::LastRunRow& r) override { rows.push_back(r); }
  void History(const core::HistoryRow& r) override { history.push_back(r); }
  void RaiseAlerts(const std::string& t) override { alerts.push_back(t); }

  std::vector<std::string> Copied() const {
    std::vector<std::string> out;
    for (auto& r : rows)
      if (r.image == 7) out.push_back(r.source);
    return out;
  }
};

class BackupRunTest : public ::testing::Test {
 protected:
  fs::path src = testenv::makeDir("src"), dst = testenv::makeDir("dst"), data = testenv::makeDir("data");
  std::time_t now = 1700000000;
  core::DailyLog log{data.string(), [this] { return now; }};
  core::TScruteDossier walker;
  Recorder view;
  core::BackupRun run{walker, view, log};
  bool logging = true;

  void SetUp() override { run.LoggingOn = [this] { return logging; }; }

  core::RunJob Job(bool subfolders = true, bool overwrite = false) {
    return core::RunJob{src.string(), dst.string(), "*.*", subfolders, overwrite};
  }
  core::StartResult Run(bool subfolders = true, bool overwrite = false) {
    auto hook = std::move(view.onProgress);  // a test's hooks last over the reset
    auto current = std::move(view.onCurrent);
    view = Recorder{};
    view.onProgress = std::move(hook);
    view.onCurrent = std::move(current);
    return run.Start(Job(subfolders, overwrite));
  }
  std::string LogText() { return readFile(log.PathFor(now)); }
};

// Runs `body` in a child with mounts of its own (nothing stays mounted when it ends). `body`
// makes its mounts, answering false when it may not, then checks as usual; the child's status
// tells whether any check failed there, 77 when mounts are not allowed.
int InOwnMounts(const std::function<bool()>& body) {
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
    if (!body()) _exit(77);
    std::fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST_F(BackupRunTest, FirstRunCopiesEverythingAndARerunNothing) {
  writeFile(src / "a.txt", "alpha");
  writeFile(src / "empty", "");
  writeFile(src / "sub" / "deep" / "b.bin", std::string(300000, 'b'));
  ::chmod((src / "a.txt").c_str(), 0600);
  // Odd seconds and nanoseconds: a FAT target keeps two-second steps, the DOS form compares them equal.
  SetMtime(src / "a.txt", 1600000001, 999999999);

  ASSERT_EQ(Run(), core::StartResult::Ran);
  EXPECT_EQ(view.Copied().size(), 3u);
  EXPECT_EQ(readFile(dst / "a.txt"), "alpha");
  EXPECT_EQ(readFile(dst / "empty"), "");
  EXPECT_EQ(readFile(dst / "sub" / "deep" / "b.bin"), std::string(300000, 'b'));
  EXPECT_EQ(MtimeOf(dst / "a.txt"), 1600000001);
  EXPECT_EQ(fs::status(dst / "a.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(run.Counters().filesTreated, 3);
  EXPECT_EQ(run.Counters().filesCopied, 3);
  EXPECT_EQ(run.Counters().foldersScanned, 2);
  EXPECT_EQ(view.started, 1);
  EXPECT_EQ(view.ended, 1);
  EXPECT_EQ(view.idle, (std::vector<std::string>{"false", "true"}));
  ASSERT_EQ(view.history.size(), 1u);
  EXPECT_EQ(view.history[0], core::RunEndedRow(log.TimeNow(), src.string(), dst.string(), "*.*", true));
  EXPECT_EQ(view.rows[0].number, "1");

  SetMtime(dst / "a.txt", 1600000000);  // as a FAT volume stores it
  ASSERT_EQ(Run(), core::StartResult::Ran);
  EXPECT_TRUE(view.Copied().empty());
  EXPECT_EQ(run.Counters().filesCopied, 0);
  EXPECT_EQ(run.Counters().filesTreated, 3);
  EXPECT_FALSE(run.Busy());

  // Two run lines in the log.
  const std::string line = core::RunLogLine(log.TimeNow(), src.string(), dst.string(), "*.*", true);
  EXPECT_EQ(LogText(), line + "\n" + line + "\n");
}

TEST_F(BackupRunTest, NewerSourcesReplaceOlderTargetsOnly) {
  writeFile(src / "newer", "new");
  writeFile(src / "older", "old source");
  writeFile(src / "empty-newer", "");
  writeFile(dst / "newer", "previous");
  writeFile(dst / "older", "newer target");
  writeFile(dst / "empty-newer", "stale");
  SetMtime(src / "newer", 1600000100);
  SetMtime(dst / "newer", 1600000000);
  SetMtime(src / "older", 1600000000);
  SetMtime(dst / "older", 1600000100);
  SetMtime(src / "empty-newer", 1600000100);
  SetMtime(dst / "empty-newer", 1600000000);
  Run();
  EXPECT_EQ(readFile(dst / "newer"), "new");
  EXPECT_EQ(readFile(dst / "older"), "newer target");
  EXPECT_EQ(readFile(dst / "empty-newer"), "");

  // Overwrite mode replaces the newer non-empty target, never an empty source over a newer one.
  writeFile(src / "empty-older", "");
  writeFile(dst / "empty-older", "kept");
  SetMtime(src / "empty-older", 1600000000);
  SetMtime(dst / "empty-older", 1600000100);
  Run(true, true);
  EXPECT_EQ(readFile(dst / "older"), "old source");
  EXPECT_EQ(readFile(dst / "empty-older"), "kept");
}

// Replacements finish their renames while the walk goes on, yet every row comes in the walk's
// order (first copies, renamed at once, included), after all of them the run's end, and a
// rename that fails keeps what stood there.
TEST_F(BackupRunTest, ReplacedTargetsAreReportedInTheWalksOrder) {
  enum Target { kOlder, kFolderInTheWay, kNone };
  struct Case {
    const char* name;
    Target target;
  } cases[] = {{"a/1", kOlder}, {"a/2", kFolderInTheWay}, {"a/new", kNone}, {"b/1", kOlder},
               {"b/2", kFolderInTheWay}, {"b/new", kNone}, {"c/1", kOlder}, {"c/new", kNone}};
  for (const auto& c : cases) {
    writeFile(src / c.name, std::string("new ") + c.name);
    SetMtime(src / c.name, 1600000100);
    if (c.target == kNone) continue;
    if (c.target == kFolderInTheWay) fs::create_directories(dst / c.name / "kept");
    else writeFile(dst / c.name, "old");
    SetMtime(dst / c.name, 1600000000);
  }
  // The renames wait until the walk has seen every file.
  std::promise<void> walked;
  std::shared_future<void> gate = walked.get_future().share();
  run.Commits().Rename = [gate](const platform::StagedCopy& staged) {
    gate.wait();
    return platform::CommitCopy(staged);
  };
  view.onCurrent = [&](std::size_t seen) {
    if (seen == std::size(cases)) walked.set_value();
  };
  Run();
  ASSERT_EQ(view.rows.size(), std::size(cases));
  ASSERT_EQ(view.walked.size(), view.rows.size());
  for (std::size_t i = 0; i < view.rows.size(); ++i) {
    EXPECT_EQ(view.rows[i].source, view.walked[i]);
    EXPECT_EQ(view.rows[i].number, std::to_string(i + 1));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto row = std::find_if(view.rows.begin(), view.rows.end(), [&](auto& r) { return r.source == (src / c.name).string(); });
    ASSERT_NE(row, view.rows.end());
    EXPECT_EQ(row->image, c.target == kFolderInTheWay ? 6 : 7);
    if (c.target == kFolderInTheWay) {
      EXPECT_EQ(row->error, std::to_string(EISDIR));
      EXPECT_TRUE(fs::is_directory(dst / c.name / "kept"));
    } else {
      EXPECT_EQ(readFile(dst / c.name), std::string("new ") + c.name);
    }
  }
  // The run's end comes last, and says two files were not copied.
  EXPECT_EQ(view.history.back(), core::RunTroubleRow(log.TimeNow(), src.string(), "2 fichiers non copiés", dst.string(),
                                                     "*.*", true, true));
  EXPECT_EQ(run.Counters().filesCopied, 6);
  EXPECT_EQ(run.Counters().filesNotCopied, 2);
  for (auto& e : fs::recursive_directory_iterator(dst)) EXPECT_FALSE(platform::IsCopyTempName(e.path().filename()));
  EXPECT_FALSE(fs::exists(data / core::kCopyRecordName));
}

// Overwrite mode with a failing copy keeps the old backup (it used to be deleted first).
TEST_F(BackupRunTest, FailedCopyInOverwriteModeKeepsTheOldTargetAndIsAnError) {
  writeFile(src / "big", std::string(3 << 20, 'n'));
  writeFile(dst / "big", "old backup");
  SetMtime(dst / "big", 1900000000);

  struct rlimit old;
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_FSIZE, &small);
  run.CopyThreshold = 1 << 20;
  Run(true, true);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(readFile(dst / "big"), "old backup");
  EXPECT_EQ(std::distance(fs::directory_iterator(dst), fs::directory_iterator()), 1);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].image, 6);
  EXPECT_EQ(view.rows[0].error, std::to_string(EFBIG));
  EXPECT_EQ(view.rows[0].message, "Fichier trop volumineux");
  EXPECT_EQ(run.Counters().filesCopied, 0);
  EXPECT_EQ(view.panels[1], 0);
  ASSERT_EQ(view.history.size(), 2u);
  EXPECT_EQ(view.history[0].image, 5);
  // The run's end is an error too, and its alerts go out once.
  const std::string t = log.TimeNow(), s = (src / "big").string(), d = (dst / "big").string();
  EXPECT_EQ(view.history[1], core::RunTroubleRow(t, src.string(), "1 fichier non copié", dst.string(), "*.*", true, true));
  EXPECT_EQ(view.alerts, std::vector<std::string>{"1 fichier non copié : " + src.string() + " vers " + dst.string()});
  // Above the threshold the lock line comes first, then the file error line; after the run
  // line, what went wrong with the run.
  EXPECT_EQ(LogText(), core::LockLogLine(t, s, d) + "\n" + core::FileErrorLogLine(t, s, "Fichier trop volumineux", d) +
                           "\n" + core::RunLogLine(t, src.string(), dst.string(), "*.*", true) + "\n" +
                           core::FileErrorLogLine(t, src.string(), "1 fichier non copié", dst.string()) + "\n");
}

TEST_F(BackupRunTest, StartGuardsCompareResolvedPaths) {
  fs::create_symlink(src, testenv::testRoot() / "link");
  fs::create_directories(src / "inner");
  struct Case {
    std::string source, target;
    core::StartResult result;
  } cases[] = {
      {src.string(), src.string(), core::StartResult::SameFolder},
      {src.string(), src.string() + "/", core::StartResult::SameFolder},
      {src.string() + "/", src.string() + "/./", core::StartResult::SameFolder},
      {src.string(), (testenv::testRoot() / "link").string(), core::StartResult::SameFolder},
      {src.string(), (src / "inner").string(), core::StartResult::SameFolder},
      {src.string(), (src / "not-yet").string(), core::StartResult::SameFolder},
      {"/", dst.string(), core::StartResult::SameFolder},
      {src.string(), "/", core::StartResult::SystemRoot},
      {src.string(), "/tmp/..", core::StartResult::SystemRoot},
      {src.string(), src.string() + "-other", core::StartResult::PreflightFailed},
      {"//pc/share/", "//pc/share", core::StartResult::SameFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    EXPECT_EQ(run.Start(core::RunJob{c.source, c.target, "*.*", true, false}), c.result);
  }
  // The editor's order: the root guard first.
  EXPECT_EQ(run.StartFromEditor(core::RunJob{"/", "/", "*.*", true, false}), core::StartResult::SystemRoot);
  EXPECT_EQ(run.Start(core::RunJob{"/", "/", "*.*", true, false}), core::StartResult::SameFolder);
}

TEST_F(BackupRunTest, PreflightReportsAMissingTargetThenAMissingSource) {
  core::RunJob job{src.string(), (dst / "gone").string(), "*.*", false, false};
  EXPECT_EQ(run.Start(job), core::StartResult::PreflightFailed);
  EXPECT_EQ(view.alerts, std::vector<std::string>{"Cible non présente " + job.target});
  ASSERT_EQ(view.history.size(), 1u);
  EXPECT_EQ(view.history[0], core::TargetMissingRow(log.TimeNow(), job.source, job.target));
  EXPECT_EQ(view.idle, std::vector<std::string>{"true"});
  EXPECT_EQ(view.started, 0);

  core::RunJob job2{(src / "gone").string(), dst.string(), "*.*", false, false};
  view = Recorder{};
  EXPECT_EQ(run.Start(job2), core::StartResult::PreflightFailed);
  EXPECT_EQ(view.alerts, std::vector<std::string>{"Source non présente " + job2.source});
  EXPECT_EQ(view.history[0], core::SourceMissingRow(log.TimeNow(), job2.source, job2.target));
  EXPECT_EQ(LogText(), core::TargetMissingLogLine(log.TimeNow(), job.source, job.target) + "\n" +
                           core::SourceMissingLogLine(log.TimeNow(), job2.source, job2.target) + "\n");

  // Logging off: history rows only, no file.
  logging = false;
  fs::remove(log.PathFor(now));
  view = Recorder{};
  run.Start(job);
  EXPECT_EQ(view.history.size(), 1u);
  EXPECT_FALSE(fs::exists(log.PathFor(now)));
}

// A network path without a local mount behind it is absent; a network target is never removable.
TEST_F(BackupRunTest, NetworkPathsGoThroughTheNetworkInterface) {
  EXPECT_EQ(core::NetworkComputer("//pc/share/dir"), "pc");
  EXPECT_EQ(core::NetworkComputer("/home/pc/share"), "");
  EXPECT_TRUE(core::IsNetworkPath("//pc"));
  EXPECT_FALSE(core::IsNetworkPath("/pc"));

  struct Net : core::RunNetwork {
    std::vector<std::string> asked, reconnected;
    std::string mount;
    bool Reachable(const std::string& path) override { return asked.push_back(path), false; }
    void Reconnect(const std::string& c) override { reconnected.push_back(c); }
    std::string LocalPath(const std::string& p) override { return p.rfind("//pc/share", 0) == 0 ? mount : ""; }
  } net;
  run.Network = &net;
  int probes = 0;
  run.ProbeDrive = [&](const std::string&) { return ++probes, core::TargetDrive{true, 0}; };
  writeFile(src / "f", "data");

  EXPECT_EQ(run.Start(core::RunJob{"//nas/x", "//pc/share", "*.*", true, false}), core::StartResult::PreflightFailed);
  EXPECT_EQ(net.asked, (std::vector<std::string>{"//pc/share", "//nas/x"}));
  EXPECT_EQ(net.reconnected, (std::vector<std::string>{"pc", "nas"}));

  net.mount = dst.string();
  EXPECT_EQ(run.Start(core::RunJob{src.string(), "//pc/share", "*.*", true, false}), core::StartResult::Ran);
  EXPECT_EQ(probes, 0);
  EXPECT_FALSE(run.TargetRemovable());
  EXPECT_EQ(readFile(dst / "f"), "data");
}

// The free-space stop ends the walk; the idle marker turns "true" only once it has unwound,
// and no second run can start meanwhile.
TEST_F(BackupRunTest, FreeSpaceStopOnARemovableTarget) {
  writeFile(src / "a", std::string(600, 'a'));
  writeFile(src / "b", std::string(600, 'b'));
  writeFile(src / "c", std::string(600, 'c'));
  run.ProbeDrive = [](const std::string&) { return core::TargetDrive{true, 1000}; };
  std::vector<core::StartResult> nested;
  run.Pump = [&] { nested.push_back(run.Start(Job())); };
  run.PumpInterval = std::chrono::milliseconds(0);
  Run();
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0].image, 7);
  EXPECT_EQ(view.rows[1].image, 6);
  EXPECT_EQ(view.rows[1].message, "Pas assez d'espace disque ");
  EXPECT_EQ(view.rows[1].error, "S");
  EXPECT_EQ(view.rows[1].number, "2");
  EXPECT_EQ(run.FreeSpaceLeft(), -200);
  EXPECT_EQ(run.Counters().filesTreated, 2);
  EXPECT_EQ(view.idle, (std::vector<std::string>{"false", "true"}));
  ASSERT_FALSE(nested.empty());
  for (auto r : nested) EXPECT_EQ(r, core::StartResult::Busy);
  ASSERT_EQ(view.history.size(), 2u);
  EXPECT_EQ(view.history[0].image, 5);
  EXPECT_EQ(view.history[1], core::RunTroubleRow(log.TimeNow(), src.string(), "Sauvegarde arrêtée, 1 fichier non copié",
                                                 dst.string(), "*.*", true, true));
  EXPECT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(run.Counters().filesCopied, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dst), fs::directory_iterator()), 1);
}

TEST_F(BackupRunTest, StopFromInsideACopyCompletesThatFileThenEnds) {
  const std::string big(20 << 20, 'x');
  writeFile(src / "1", big);
  writeFile(src / "2", big);
  writeFile(src / "3", big);
  view.onProgress = [&](int percent) {
    if (percent > 0 && percent < 100) run.RequestStop();
  };
  run.Start(Job());
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(readFile(view.rows[0].target), big);
  EXPECT_EQ(std::distance(fs::directory_iterator(dst), fs::directory_iterator()), 1);
  EXPECT_EQ(view.ended, 1);
  EXPECT_FALSE(run.Busy());
  // Stopped by the user, with nothing failed: the plain end row, no alert.
  EXPECT_EQ(view.history.back().image, 0);
  EXPECT_TRUE(view.alerts.empty());
}

// Every copy into a read-only target fails: each file has its error row, and the run's end is
// an error that says how many were not copied, with the alerts once for the run.
TEST_F(BackupRunTest, ARunIntoAReadOnlyTargetEndsInErrorWithOneAlert) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a read-only mount";
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt"}) writeFile(src / name, name);
  const int status = InOwnMounts([&]() -> bool {
    if (::mount(dst.c_str(), dst.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, dst.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
      return false;
    Run();
    const std::string t = log.TimeNow(), trouble = "3 fichiers non copiés, 1 répertoire en erreur";
    EXPECT_EQ(view.rows.size(), 4u);
    for (const auto& r : view.rows) {
      SCOPED_TRACE(r.source);
      EXPECT_EQ(r.image, 6);
      if (r.source == (src / "sub").string()) continue;
      EXPECT_EQ(r.message, "Système de fichiers en lecture seule");
      EXPECT_EQ(r.error, std::to_string(EROFS));
    }
    EXPECT_EQ(run.Counters().filesCopied, 0);
    EXPECT_EQ(run.Counters().filesNotCopied, 3);
    EXPECT_EQ(view.panels[1], 0);
    EXPECT_EQ(view.history.size(), 5u);  // four error rows, then the run's end
    if (view.history.empty()) return true;
    EXPECT_EQ(view.history.back(), core::RunTroubleRow(t, src.string(), trouble, dst.string(), "*.*", true, true));
    EXPECT_EQ(view.alerts, std::vector<std::string>{trouble + " : " + src.string() + " vers " + dst.string()});
    EXPECT_NE(LogText().find(core::FileErrorLogLine(t, src.string(), trouble, dst.string()) + "\n"), std::string::npos);
    return true;
  });
  if (status == 77) GTEST_SKIP() << "mounts are not allowed here";
  EXPECT_EQ(status, 0);
}

// A fixed target that fills up: only the copies that ended whole count as copied, in the
// counters and on the status bar, and the rest are counted as not copied.
TEST_F(BackupRunTest, OnAFullTargetOnlyWholeCopiesCount) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a small file system";
  const std::string mib(1 << 20, 'm');
  for (int i = 0; i < 30; ++i) writeFile(src / ("f" + std::to_string(i)), mib);
  run.ProbeDrive = [](const std::string&) { return core::TargetDrive{}; };  // not removable: no free-space stop
  const int status = InOwnMounts([&]() -> bool {
    if (::mount("quillomet-test", dst.c_str(), "tmpfs", 0, "size=12m") != 0) return false;
    Run();
    int whole = 0;
    for (const auto& e : fs::directory_iterator(dst)) {
      EXPECT_FALSE(platform::IsCopyTempName(e.path().filename())) << e.path();
      if (readFile(e.path()) == mib) ++whole;
    }
    EXPECT_GT(whole, 0);
    EXPECT_LT(whole, 30);
    EXPECT_EQ(run.Counters().filesCopied, whole);
    EXPECT_EQ(run.Counters().filesNotCopied, 30 - whole);
    EXPECT_EQ(view.panels[1], whole);
    EXPECT_EQ(view.Copied().size(), static_cast<std::size_t>(whole));
    for (const auto& r : view.rows)
      if (r.image == 6) EXPECT_EQ(r.message, "Plus d'espace disponible sur le périphérique");
    EXPECT_EQ(view.history.back().texts[2], std::to_string(30 - whole) + " fichiers non copiés : " + dst.string());
    EXPECT_EQ(view.alerts.size(), 1u);
    return true;
  });
  if (status == 77) GTEST_SKIP() << "mounts are not allowed here";
  EXPECT_EQ(status, 0);
}

// Quitting during a copy cuts it short (its temp file goes, the old target stays), the run's
// end says it was stopped, and no run starts afterwards; quitting during the pre-flight starts
// no walk at all.
TEST_F(BackupRunTest, QuittingCutsTheCopyShortAndRecordsTheRunAsStopped) {
  const std::string big(20 << 20, 'x');
  for (const char* name : {"1", "2", "3"}) writeFile(src / name, big);
  view.onProgress = [&](int percent) {
    if (percent > 0 && percent < 100) run.Abandon();
  };
  ASSERT_EQ(run.Start(Job()), core::StartResult::Ran);
  EXPECT_TRUE(fs::is_empty(dst));
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].image, 6);
  EXPECT_EQ(view.rows[0].message, "Copie arrêtée : le programme a été quitté");
  EXPECT_EQ(run.Counters().filesCopied, 0);
  const std::string t = log.TimeNow(), trouble = "Sauvegarde arrêtée, 1 fichier non copié";
  EXPECT_EQ(view.history.back(), core::RunTroubleRow(t, src.string(), trouble, dst.string(), "*.*", true, false));
  EXPECT_TRUE(view.alerts.empty());
  EXPECT_EQ(view.idle.back(), "true");
  EXPECT_FALSE(run.Busy());
  EXPECT_NE(LogText().find(core::RunLogLine(t, src.string(), dst.string(), "*.*", true) + "\n" +
                           core::FileErrorLogLine(t, src.string(), trouble, dst.string()) + "\n"),
            std::string::npos);
  view = Recorder{};
  EXPECT_EQ(run.Start(Job()), core::StartResult::Busy);
  EXPECT_EQ(view.started, 0);

  struct Net : core::RunNetwork {
    core::BackupRun* run = nullptr;
    bool Reachable(const std::string&) override { return false; }
    void Reconnect(const std::string&) override { run->Abandon(); }
    std::string LocalPath(const std::string&) override { return {}; }
  } net;
  core::BackupRun other{walker, view, log};
  net.run = &other;
  other.Network = &net;
  EXPECT_EQ(other.Start(core::RunJob{"//pc/share", dst.string(), "*.*", true, false}), core::StartResult::Busy);
  EXPECT_EQ(view.started, 0);
  EXPECT_TRUE(view.history.empty());
}

// The source root is removed once, as a prefix: a root that recurs inside a path stays there.
TEST_F(BackupRunTest, RelativePathRemovesTheRootOnce) {
  const std::string inner = src.string().substr(1);  // the root without its leading "/"
  auto file = writeFile(src / "x" / inner / "f", "deep");
  Run();
  EXPECT_EQ(readFile(dst / "x" / inner / "f"), "deep");
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].source, file.string());
}

TEST_F(BackupRunTest, FoldersPathLimitAndLeftTempFiles) {
  writeFile(src / "top", "t");
  writeFile(src / "one" / "f", "1");
  writeFile(src / "one" / "two" / "g", "2");
  writeFile(src / "blocked" / "h", "3");
  writeFile(dst / "blocked", "a file where a folder belongs");
  // Left by a killed run: never taken for a backup, removed by the next run.
  writeFile(dst / ".quillomet-AbC123.part", "partial");
  writeFile(dst / "one" / ".quillomet-xyz789.part", "partial");
  std::string longName(259 - (dst / "").string().size(), 'L');  // 259 characters are within the limits
  writeFile(src / longName, "long");

  Run(false);  // sub-folders off: direct sub-folders are still created, empty
  EXPECT_TRUE(fs::is_directory(dst / "one"));
  EXPECT_FALSE(fs::exists(dst / "one" / "f"));
  EXPECT_FALSE(fs::exists(dst / ".quillomet-AbC123.part"));
  EXPECT_FALSE(fs::exists(dst / "one" / ".quillomet-xyz789.part"));
  EXPECT_EQ(readFile(dst / longName), "long");
  std::map<std::string, core::LastRunRow> bySource;
  for (auto& r : view.rows) bySource[r.source] = r;
  EXPECT_EQ(bySource[(src / longName).string()].image, 7);
  auto& folder = bySource[(src / "blocked").string()];
  EXPECT_EQ(folder.image, 6);
  EXPECT_EQ(folder.number, "0");
  EXPECT_EQ(folder.target, (dst / "blocked").string() + "/");
  EXPECT_EQ(folder.message, "Impossible de créer répertoire ");
  EXPECT_EQ(folder.error, "S");
  EXPECT_EQ(run.Counters().filesCopied, 2);  // "top" and the long one

  Run(true);  // the blocked folder's file then fails on its own
  auto failed = std::find_if(view.rows.begin(), view.rows.end(),
                             [&](auto& r) { return r.source == (src / "blocked" / "h").string(); });
  ASSERT_NE(failed, view.rows.end());
  EXPECT_EQ(failed->image, 6);
  EXPECT_EQ(failed->error, std::to_string(ENOTDIR));
  EXPECT_EQ(readFile(dst / "one" / "two" / "g"), "2");
}

TEST(PathWithinLimits, BytesOfThePathAndOfEachName) {
  const std::string name255(255, 'n');
  std::string p4095;  // names of 99 bytes
  while (p4095.size() + 100 <= 4095) p4095 += "/" + std::string(99, 'a');
  p4095 += "/" + std::string(4095 - p4095.size() - 1, 'b');
  struct {
    std::string path;
    bool within;
  } cases[] = {
      {p4095, true},         // 4,095 bytes
      {p4095 + "c", false},  // 4,096 bytes
      {"/a/" + name255 + "/b", true},
      {"/a/" + name255 + "x/b", false},                     // a name of 256 bytes
      {"/a/" + name255 + "x", false},                       // also as the last name
      {"/" + std::string(85, 'x') + std::string(85 * 2, '\xC3'), true},  // bytes, not characters
  };
  for (const auto& c : cases) EXPECT_EQ(core::PathWithinLimits(c.path), c.within) << c.path.size();
}

// Folders and files made below an open folder, so that paths may pass what open() accepts.
class DeepTree {
 public:
  explicit DeepTree(const fs::path& root) : fd_(::open(root.c_str(), O_RDONLY | O_DIRECTORY)), path_(root.string()) {}
  ~DeepTree() { ::close(fd_); }
  void Folder(const std::string& name) {
    ASSERT_EQ(::mkdirat(fd_, name.c_str(), 0755), 0) << std::strerror(errno);
    const int next = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    ::close(fd_);
    fd_ = next;
    path_ += "/" + name;
  }
  void File(const std::string& name, const std::string& bytes) {
    const int f = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(f, 0) << std::strerror(errno);
    ASSERT_EQ(::write(f, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(f);
  }
  const std::string& Path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Paths past the old 259 characters are copied whole; a path past the platform's limits gets
// the path rule's row and the walk goes on.
TEST_F(BackupRunTest, DeepTreesAreCopiedUpToThePlatformLimits) {
  DeepTree tree(src);
  std::vector<std::string> copied;
  while (tree.Path().size() - src.string().size() < 300) {
    tree.Folder(std::string(40, 'd') + std::to_string(copied.size()));
    tree.File("f.txt", tree.Path());
    copied.push_back(tree.Path() + "/f.txt");
  }
  while (tree.Path().size() < 3900) tree.Folder(std::string(200, 'p'));
  tree.File("ok.txt", "ok");
  ASSERT_EQ(src.string().size(), dst.string().size());
  const std::string edge(4095 - tree.Path().size() - 1, 'e');  // a path of exactly 4,095 bytes
  ASSERT_LE(edge.size(), 255u);
  tree.File(edge, "edge");
  const std::string beyond(250, 'x');  // the folder is walkable, this file's path is not
  tree.File(beyond, "too deep");
  const std::string deepest = tree.Path();
  tree.Folder(std::string(200, 'q'));  // a folder past the limit: walked no further
  writeFile(src / "zz-after.txt", "after");

  ASSERT_EQ(Run(), core::StartResult::Ran);
  ASSERT_GT(copied.back().size(), 259u);
  for (const std::string& file : copied) {
    const std::string target = dst.string() + file.substr(src.string().size());
    EXPECT_EQ(readFile(target), file.substr(0, file.size() - 6)) << file.size();
  }
  EXPECT_EQ(readFile(dst / "zz-after.txt"), "after");
  std::map<std::string, core::LastRunRow> bySource;
  for (auto& r : view.rows) bySource[r.source] = r;
  EXPECT_EQ(bySource[deepest + "/ok.txt"].image, 7);
  EXPECT_EQ(bySource[deepest + "/" + edge].image, 7) << bySource[deepest + "/" + edge].message;
  const core::LastRunRow& refused = bySource[deepest + "/" + beyond];
  EXPECT_EQ(refused.image, 6);
  EXPECT_EQ(refused.message, "longueur total du chemin + le fichier ne doit dépasser 260 caractères");
  EXPECT_EQ(refused.error, "");
  const core::LastRunRow& folder = bySource[deepest + "/" + std::string(200, 'q')];
  EXPECT_EQ(folder.image, 6);
  EXPECT_EQ(folder.number, "0");
  EXPECT_EQ(folder.message, refused.message);
  EXPECT_EQ(view.ended, 1);
}

TEST_F(BackupRunTest, ALogFailureLeavesTheRunIdle) {
  writeFile(src / "f", "x");
  core::DailyLog broken((writeFile(data / "plain", "") / "x").string());
  core::TScruteDossier w;
  Recorder v;
  core::BackupRun r(w, v, broken);
  r.LoggingOn = [] { return true; };
  EXPECT_THROW(r.Start(core::RunJob{src.string(), dst.string(), "*.*", true, false}), std::runtime_error);
  EXPECT_FALSE(r.Busy());
  EXPECT_FALSE(w.Running);
  EXPECT_EQ(readFile(dst / "f"), "x");
}

// Links planted in the target are never followed: a link where a folder belongs is an error
// row, a link under a file's name is replaced, a link named like a temp file stays.
TEST_F(BackupRunTest, LinksPlantedInTheTargetAreNeverFollowed) {
  const fs::path elsewhere = testenv::makeDir("elsewhere");
  writeFile(elsewhere / "important.conf", "theirs");
  writeFile(elsewhere / "victim", "theirs");
  writeFile(elsewhere / ".quillomet-AbC123.part", "theirs");
  writeFile(src / "sub" / "important.conf", "ours");
  writeFile(src / "sub" / "deeper" / "x", "ours");
  writeFile(src / "real" / "inner" / "important.conf", "ours");
  writeFile(src / "top.conf", "ours");
  fs::create_directory_symlink(elsewhere, dst / "sub");
  fs::create_directories(dst / "real");
  fs::create_directory_symlink(elsewhere, dst / "real" / "inner");
  fs::create_symlink(elsewhere / "victim", dst / "top.conf");
  fs::create_symlink(elsewhere / "victim", dst / ".quillomet-XyZ789.part");

  ASSERT_EQ(Run(), core::StartResult::Ran);
  for (const char* name : {"important.conf", "victim", ".quillomet-AbC123.part"})
    EXPECT_EQ(readFile(elsewhere / name), "theirs") << name;
  EXPECT_FALSE(fs::exists(elsewhere / "deeper"));
  EXPECT_FALSE(fs::exists(elsewhere / "inner"));
  EXPECT_TRUE(fs::is_symlink(dst / "sub"));
  EXPECT_TRUE(fs::is_symlink(dst / ".quillomet-XyZ789.part"));
  EXPECT_FALSE(fs::is_symlink(dst / "top.conf"));  // replaced by the copy
  EXPECT_EQ(readFile(dst / "top.conf"), "ours");

  std::map<std::string, core::LastRunRow> bySource;
  for (auto& r : view.rows) bySource[r.source] = r;
  for (const fs::path& folder : {src / "sub", src / "real" / "inner"}) {
    const auto& row = bySource[folder.string()];
    EXPECT_EQ(row.image, 6) << folder;
    EXPECT_EQ(row.message, "Lien symbolique à la place du répertoire, non suivi ");
  }
  for (const fs::path& file : {src / "sub" / "important.conf", src / "real" / "inner" / "important.conf"}) {
    const auto& row = bySource[file.string()];
    EXPECT_EQ(row.image, 6) << file;
    EXPECT_EQ(row.error, std::to_string(ELOOP));
  }
  EXPECT_NE(LogText().find("Lien symbolique"), std::string::npos);
}

// A source written to while it is copied gets an error row, never a cut copy called a success.
TEST_F(BackupRunTest, ASourceThatKeepsChangingIsAnErrorNotAStaleCopy) {
  writeFile(src / "growing.log", std::string(200000, 'a'));
  writeFile(src / "still", "s");
  view.onProgress = [&](int percent) {
    if (percent == 0) return;
    std::ofstream(src / "growing.log", std::ios::app) << "one more line\n";
  };
  Run();
  view.onProgress = nullptr;
  EXPECT_FALSE(fs::exists(dst / "growing.log"));
  EXPECT_EQ(readFile(dst / "still"), "s");
  auto row = std::find_if(view.rows.begin(), view.rows.end(),
                          [&](auto& r) { return r.source == (src / "growing.log").string(); });
  ASSERT_NE(row, view.rows.end());
  EXPECT_EQ(row->image, 6);
  EXPECT_EQ(row->message, "Le fichier a changé pendant la copie, copie abandonnée");
  for (auto& e : fs::directory_iterator(dst)) EXPECT_FALSE(platform::IsCopyTempName(e.path().filename()));

  Run();  // once it holds still, the next run copies it whole
  EXPECT_EQ(readFile(dst / "growing.log"), readFile(src / "growing.log"));
}

// The folder of the copy under way is on record in the data folder; after a killed run the
// next one removes the temp files left there, even in a folder it no longer walks, and goes
// through no link to get there.
TEST_F(BackupRunTest, TempFilesOfAKilledRunAreRemovedFromTheRecordedFolder) {
  writeFile(src / "now" / "f", std::string(100000, 'f'));
  std::string recorded;
  view.onProgress = [&](int) {
    if (recorded.empty()) recorded = readFile(data / core::kCopyRecordName);
  };
  Run();
  view.onProgress = nullptr;
  EXPECT_EQ(recorded, fs::canonical(dst / "now").string() + "\n");
  EXPECT_FALSE(fs::exists(data / core::kCopyRecordName));  // gone once the run ended

  struct Case {
    const char* name;
    bool throughLink;
    bool removed;
  } cases[] = {{"plain", false, true}, {"linked", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path left = testenv::makeDir(std::string("left-") + c.name);
    writeFile(left / ".quillomet-Kil1ed.part", "cut copy");
    writeFile(left / "keep.part", "user's");
    fs::path named = left;
    if (c.throughLink) {
      named = testenv::testRoot() / "link-to-left";
      fs::create_directory_symlink(left, named);
    }
    writeFile(data / core::kCopyRecordName, named.string() + "\n");
    Run();
    EXPECT_EQ(fs::exists(left / ".quillomet-Kil1ed.part"), !c.removed);
    EXPECT_EQ(readFile(left / "keep.part"), "user's");
    EXPECT_FALSE(fs::exists(data / core::kCopyRecordName));
  }

  // Renames still waiting when the run was killed: one folder a line, each one cleaned.
  std::string record;
  std::vector<fs::path> lefts;
  for (const char* name : {"first", "second", "third"}) {
    lefts.push_back(testenv::makeDir(std::string("waiting-") + name));
    writeFile(lefts.back() / ".quillomet-Wait01.part", "complete copy, not renamed");
    record += lefts.back().string() + "\n";
  }
  writeFile(data / core::kCopyRecordName, record);
  Run();
  for (const fs::path& left : lefts) EXPECT_FALSE(fs::exists(left / ".quillomet-Wait01.part")) << left;
}

// A source folder that cannot be read is an error row and a log line, like a file. Root reads
// every folder: as root, the run is made as nobody, in a child that sends its rows back.
TEST_F(BackupRunTest, AnUnreadableSourceFolderIsAnErrorRow) {
  writeFile(src / "locked" / "inside", "x");
  writeFile(src / "f", "x");
  ::chmod((src / "locked").c_str(), 0);
  if (::geteuid() != 0) {
    Run();
  } else {
    // nobody's own folders, "locked" included (its mode keeps even its owner out).
    for (const fs::path& tree : {src, dst, data}) {
      ASSERT_EQ(::lchown(tree.c_str(), 65534, 65534), 0);
      for (const auto& e : fs::recursive_directory_iterator(tree))
        ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0) << e.path();
    }
    int rows[2];
    ASSERT_EQ(::pipe(rows), 0);
    const int status = testenv::RunAsNobody([&] {
      ::close(rows[0]);
      if (::access((src / "locked").c_str(), R_OK) == 0) return 2;  // still readable: nothing to check
      Run();
      std::string out;
      for (const auto& r : view.rows)
        for (const std::string& field : {std::to_string(r.image), r.source, r.message, r.error}) out += field + '\0';
      return ::write(rows[1], out.data(), out.size()) == ssize_t(out.size()) ? 0 : 1;
    });
    ::close(rows[1]);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(rows[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    ::close(rows[0]);
    if (status == testenv::kCannotBecomeNobody) GTEST_SKIP() << "this process cannot become nobody here";
    ASSERT_EQ(status, 0);
    std::vector<std::string> fields;
    for (std::size_t at = 0, end; (end = got.find('\0', at)) != std::string::npos; at = end + 1)
      fields.push_back(got.substr(at, end - at));
    ASSERT_EQ(fields.size() % 4, 0u);
    view = Recorder{};
    for (std::size_t i = 0; i < fields.size(); i += 4) {
      core::LastRunRow r;
      r.image = std::stoi(fields[i]);
      r.source = fields[i + 1];
      r.message = fields[i + 2];
      r.error = fields[i + 3];
      view.rows.push_back(r);
    }
  }
  ::chmod((src / "locked").c_str(), 0755);
  auto row = std::find_if(view.rows.begin(), view.rows.end(),
                          [&](auto& r) { return r.source == (src / "locked").string() && r.image == 6; });
  ASSERT_NE(row, view.rows.end());
  EXPECT_EQ(row->message, "Impossible de lire le répertoire : Accès refusé");
  EXPECT_EQ(row->error, std::to_string(EACCES));
  EXPECT_NE(LogText().find("Impossible de lire le répertoire"), std::string::npos);
  EXPECT_EQ(readFile(dst / "f"), "x");
}

// A target inside the source through a bind mount is the source's own folder: refused; and a
// target mounted inside the source is not walked into.
TEST_F(BackupRunTest, TargetInsideTheSourceThroughABindMount) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for bind mounts";
  fs::create_directories(src / "sub");
  writeFile(src / "sub" / "f", "1");
  writeFile(src / "g", "2");
  const fs::path mnt = testenv::makeDir("mnt"), inner = src / "m";
  fs::create_directories(inner);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Own mount namespace: nothing stays mounted when the child ends.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
    if (::mount((src / "sub").c_str(), mnt.c_str(), nullptr, MS_BIND, nullptr) != 0) _exit(77);
    if (::mount(dst.c_str(), inner.c_str(), nullptr, MS_BIND, nullptr) != 0) _exit(77);
    int failures = 0;
    if (run.Start(core::RunJob{src.string(), mnt.string(), "*.*", true, false}) != core::StartResult::SameFolder) failures |= 1;
    if (run.Start(core::RunJob{src.string(), (mnt / "deeper").string(), "*.*", true, false}) !=
        core::StartResult::SameFolder)
      failures |= 2;
    if (run.Start(core::RunJob{src.string(), dst.string(), "*.*", true, false}) != core::StartResult::Ran) failures |= 4;
    if (fs::exists(dst / "m") || !fs::exists(dst / "sub" / "f") || !fs::exists(dst / "g")) failures |= 8;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "bind mounts are not allowed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The target's volume goes away during the walk (its mount point is a plain empty folder
// again): error rows, one alert, the walk stops, and nothing is made where it was.
TEST_F(BackupRunTest, ATargetPulledOutStopsTheRunWithOneAlertAndMakesNothing) {
  const fs::path mount = testenv::makeDir("key"), target = mount / "Work";
  fs::create_directory(target);
  for (const char* name : {"a/1.txt", "b/2.txt", "c/3.txt", "d/4.txt"}) writeFile(src / name, std::string(5000, 'x'));
  bool pulled = false;
  view.onProgress = [&](int) {
    if (pulled) return;
    pulled = true;
    fs::rename(mount, testenv::testRoot() / "key.gone");
    fs::create_directory(mount);
  };
  const core::RunJob job{src.string(), target.string(), "*.*", true, false};
  EXPECT_EQ(run.Start(job), core::StartResult::Ran);
  ASSERT_TRUE(pulled);
  EXPECT_EQ(view.alerts, std::vector<std::string>{"Cible non présente " + target.string()});
  ASSERT_FALSE(view.rows.empty());
  EXPECT_EQ(view.rows.back().image, 6);
  EXPECT_EQ(view.rows.back().message, "Cible non présente ");
  EXPECT_LT(run.Counters().filesTreated, 4);
  EXPECT_TRUE(fs::is_empty(mount));
  EXPECT_EQ(view.ended, 1);
  EXPECT_EQ(view.idle.back(), "true");
  EXPECT_FALSE(run.Busy());
  EXPECT_NE(LogText().find("Cible non présente "), std::string::npos);
}

// A deep tree: the target folders far above the current one are closed meanwhile and opened
// again, one level at a time, for the folders that come after the deep branch.
TEST_F(BackupRunTest, DeepTreesAreCopiedWholeWithFewDescriptors) {
  // Two deep branches under one folder: whichever comes second starts from a folder whose
  // descriptor the first one's depth had closed.
  fs::path fork = src;
  for (int level = 0; level < 10; ++level) fork /= "d";
  std::vector<fs::path> files;
  for (const char* branch : {"x", "y"}) {
    fs::path deep = fork / branch;
    for (int level = 0; level < 90; ++level) {
      deep /= "d";
      if (level % 7 == 0) files.push_back(writeFile(deep / ("f" + std::to_string(level)), branch));
    }
  }
  ASSERT_EQ(Run(), core::StartResult::Ran);
  for (const fs::path& f : files) {
    const fs::path copy = dst / f.lexically_relative(src);
    EXPECT_EQ(readFile(copy), readFile(f)) << copy;
  }
  for (auto& r : view.rows) EXPECT_EQ(r.image, 7) << r.source << " " << r.message;
  // The descriptors are given back: nothing of the target stays open after the run.
  int open = 0;
  for (auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec).string().rfind(dst.string(), 0) == 0) ++open;
  }
  EXPECT_EQ(open, 0);
}
