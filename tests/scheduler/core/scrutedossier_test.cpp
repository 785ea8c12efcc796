#include "scheduler/core/scrutedossier.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/asnobody.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using core::TScruteDossier;

namespace {

// Records every event of a walk as "X" (start), "F:path", "D:path", "E" (end), with the
// paths relative to the root.
struct Recorder {
  std::string root;
  std::vector<std::string> events;

  void bind(TScruteDossier& w) {
    w.Dossier = root;
    w.MaxPenetration = -1;
    w.OnExecute = [this](TScruteDossier*) { events.push_back("X"); };
    w.OnFinExecute = [this](TScruteDossier*) { events.push_back("E"); };
    w.OnFichier = [this](TScruteDossier*, const std::string& nom) { events.push_back("F:" + rel(nom)); };
    w.OnDossier = [this](TScruteDossier*, const std::string& nom) { events.push_back("D:" + rel(nom)); };
    w.OnErreur = [this](TScruteDossier*, const std::string& nom, int error) {
      events.push_back("!:" + rel(nom) + ":" + std::to_string(error));
    };
  }
  std::string rel(const std::string& nom) const {
    return nom.rfind(root + "/", 0) == 0 ? nom.substr(root.size() + 1) : "?" + nom;
  }
};

using Events = std::vector<std::string>;

// root/a.txt root/b.doc root/d1/c.txt root/d1/d2/e.doc root/d1/d2/d3/f.txt: one sub-folder per
// level so that the order of reports is fully fixed.
std::string chainTree() {
  fs::path root = testenv::makeDir("chain");
  testenv::writeFile(root / "a.txt", "a");
  testenv::writeFile(root / "b.doc", "bb");
  testenv::writeFile(root / "d1/c.txt", "c");
  testenv::writeFile(root / "d1/d2/e.doc", "e");
  testenv::writeFile(root / "d1/d2/d3/f.txt", "f");
  return root.string();
}

TEST(ScruteDossier, FilesMaskByMaskThenSubFoldersParentsFirst) {
  Recorder r{chainTree(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Filtre = "*.doc;*.txt";
  w.Execute();
  EXPECT_EQ(r.events, (Events{"X", "F:b.doc", "F:a.txt", "D:d1", "F:d1/c.txt", "D:d1/d2", "F:d1/d2/e.doc",
                              "D:d1/d2/d3", "F:d1/d2/d3/f.txt", "E"}));
  EXPECT_FALSE(w.Running);
}

TEST(ScruteDossier, MaskListPieces) {
  struct Case {
    const char* filtre;
    Events expected;
  };
  const Case cases[] = {
      // a mask given twice reports twice; an empty piece reports nothing
      {"*.txt;;*.txt", {"X", "F:a.txt", "F:a.txt", "D:d1", "F:d1/c.txt", "F:d1/c.txt", "D:d1/d2", "D:d1/d2/d3",
                        "F:d1/d2/d3/f.txt", "F:d1/d2/d3/f.txt", "E"}},
      // an empty filter still reports and enters every sub-folder
      {"", {"X", "D:d1", "D:d1/d2", "D:d1/d2/d3", "E"}},
      // the leading space is searched as written
      {"*.doc; *.txt", {"X", "F:b.doc", "D:d1", "D:d1/d2", "F:d1/d2/e.doc", "D:d1/d2/d3", "E"}},
  };
  std::string root = chainTree();
  for (const auto& c : cases) {
    Recorder r{root, {}};
    TScruteDossier w;
    r.bind(w);
    w.Filtre = c.filtre;
    w.Execute();
    EXPECT_EQ(r.events, c.expected) << '"' << c.filtre << '"';
  }
}

TEST(ScruteDossier, DepthLimitsAndSousDossier) {
  struct Case {
    int max;
    bool sub;
    Events expected;
  };
  const Case cases[] = {
      {-1, true, {"X", "F:a.txt", "F:b.doc", "D:d1", "F:d1/c.txt", "D:d1/d2", "F:d1/d2/e.doc", "D:d1/d2/d3",
                  "F:d1/d2/d3/f.txt", "E"}},
      {0, true, {"X", "F:a.txt", "F:b.doc", "D:d1", "E"}},
      {1, true, {"X", "F:a.txt", "F:b.doc", "D:d1", "F:d1/c.txt", "D:d1/d2", "E"}},
      {-1, false, {"X", "F:a.txt", "F:b.doc", "D:d1", "E"}},
  };
  std::string root = chainTree();
  for (const auto& c : cases) {
    Recorder r{root, {}};
    TScruteDossier w;
    r.bind(w);
    w.Filtre = "*.txt;*.doc";
    w.MaxPenetration = c.max;
    w.SousDossier = c.sub;
    w.Execute();
    EXPECT_EQ(r.events, c.expected) << "MaxPenetration " << c.max << " SousDossier " << c.sub;
  }
}

TEST(ScruteDossier, OnExecuteSetsTheWalkAndTrailingSlashIsDropped) {
  std::string root = chainTree();
  Recorder r{root, {}};
  TScruteDossier w;
  r.bind(w);
  w.Dossier = "/nonexistent";
  w.OnExecute = [&](TScruteDossier* s) {
    s->Dossier = root + "/";
    s->Filtre = "*.doc";
    s->SousDossier = false;
  };
  w.Execute();
  EXPECT_EQ(r.events, (Events{"F:b.doc", "D:d1", "E"}));  // one "/" between root and name
}

TEST(ScruteDossier, StopFromFileEventEndsTheWalk) {
  Recorder r{chainTree(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Filtre = "*.txt";
  w.OnFichier = [&](TScruteDossier* s, const std::string& nom) {
    r.events.push_back("F:" + r.rel(nom));
    s->Stop = true;
  };
  w.Execute();
  EXPECT_EQ(r.events, (Events{"X", "F:a.txt", "E"}));
  EXPECT_TRUE(w.Stop);
  EXPECT_FALSE(w.Running);
}

TEST(ScruteDossier, StopBeforeOrInsideOnExecuteHasNoEffect) {
  Recorder r{chainTree(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Filtre = "*.txt";
  w.SousDossier = false;
  w.Stop = true;
  w.OnExecute = [&](TScruteDossier* s) {
    EXPECT_FALSE(s->Running);
    s->Stop = true;
  };
  w.OnFinExecute = [&](TScruteDossier* s) {
    EXPECT_FALSE(s->Running);
    r.events.push_back("E");
  };
  w.Execute();
  EXPECT_EQ(r.events, (Events{"F:a.txt", "D:d1", "E"}));
}

TEST(ScruteDossier, MissingOrUnlistableRootGivesOnlyStartAndEnd) {
  fs::path file = testenv::writeFile(testenv::makeDir("m") / "plain", "x");
  // A missing root is quiet; one that is no folder is reported as unreadable.
  const std::string notDir = "!:?" + file.string() + ":" + std::to_string(ENOTDIR);
  const std::string notDirSub = "!:?" + file.string() + "/sub:" + std::to_string(ENOTDIR);
  struct Case {
    std::string root;
    Events events;
  } cases[] = {
      {"/nonexistent-quillomet", {"X", "E"}},
      {file.string(), {"X", notDir, "E"}},
      {file.string() + "/sub", {"X", notDirSub, "E"}},
      {"", {"X", "E"}},
  };
  for (const auto& c : cases) {
    Recorder r{c.root, {}};
    TScruteDossier w;
    r.bind(w);
    w.Execute();
    EXPECT_EQ(r.events, c.events) << '"' << c.root << '"';
  }
}

TEST(ScruteDossier, UnlistableSubFolderIsReportedAndTheWalkGoesOn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root (the walk runs as nobody)";
  fs::path root = testenv::makeDir("walk");
  testenv::writeFile(root / "a" / "f1", "1");
  ASSERT_EQ(mkdir((root / "locked").c_str(), 0700), 0);  // root's own, closed to nobody
  testenv::writeFile(root / "locked" / "f2", "2");
  testenv::writeFile(root / "z" / "f3", "3");

  const int status = testenv::RunAsNobody([&] {
    Recorder r{root.string(), {}};
    TScruteDossier w;
    r.bind(w);
    w.Execute();
    Events got(r.events.begin() + 1, r.events.end() - 1);
    std::sort(got.begin(), got.end());
    const bool ok = r.events.back() == "E" &&
                    got == Events{"!:locked:" + std::to_string(EACCES), "D:a", "D:locked", "D:z", "F:a/f1", "F:z/f3"};
    return ok ? 0 : 1;
  });
  if (status == testenv::kCannotBecomeNobody) GTEST_SKIP() << "this process cannot become nobody here";
  EXPECT_EQ(status, 0);
}

// A folder whose path is longer than the system takes cannot be opened, root or not.
TEST(ScruteDossier, FolderPastThePathLengthLimitIsReported) {
  fs::path root = testenv::makeDir("deep");
  const std::string level(200, 'n');
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  std::string rel;
  for (int i = 0; i < 22; ++i) {
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
    int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    rel += (rel.empty() ? "" : "/") + level;
  }
  close(fd);
  Recorder r{root.string(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Execute();
  const auto error = std::find_if(r.events.begin(), r.events.end(), [](auto& e) { return e[0] == '!'; });
  ASSERT_NE(error, r.events.end());
  EXPECT_EQ(error->substr(error->rfind(':') + 1), std::to_string(ENAMETOOLONG));
  EXPECT_EQ(std::count_if(r.events.begin(), r.events.end(), [](auto& e) { return e[0] == '!'; }), 1);
}

// The excluded folder is skipped wherever it shows up, under any name.
TEST(ScruteDossier, ExcludedFolderIsNeitherReportedNorEntered) {
  fs::path root = testenv::makeDir("excl");
  testenv::writeFile(root / "keep" / "f", "1");
  testenv::writeFile(root / "target" / "copied", "2");
  struct stat st {};
  ASSERT_EQ(stat((root / "target").c_str(), &st), 0);
  Recorder r{root.string(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Excluded = core::FolderId{st.st_dev, st.st_ino};
  w.Execute();
  EXPECT_EQ(r.events, (Events{"X", "D:keep", "F:keep/f", "E"}));
}

TEST(ScruteDossier, ExceptionFromHandlerClearsRunning) {
  Recorder r{chainTree(), {}};
  TScruteDossier w;
  r.bind(w);
  bool fail = true;
  w.OnDossier = [&](TScruteDossier*, const std::string&) {
    if (fail) throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(w.Execute(), std::runtime_error);
  EXPECT_FALSE(w.Running);
  EXPECT_EQ(r.events.size(), 3u);  // start and the two root files; no end event after an exception

  fail = false;
  r.events.clear();
  w.Execute();  // the next job runs normally
  EXPECT_EQ(r.events.front(), "X");
  EXPECT_EQ(r.events.back(), "E");
}

TEST(ScruteDossier, ExecuteDuringAWalkDoesNothing) {
  Recorder r{chainTree(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Filtre = "a.txt";
  w.SousDossier = false;
  w.OnFichier = [&](TScruteDossier* s, const std::string& nom) {
    r.events.push_back("F:" + r.rel(nom));
    s->Execute();
  };
  w.Execute();
  EXPECT_EQ(r.events, (Events{"X", "F:a.txt", "D:d1", "E"}));
}

TEST(ScruteDossier, OnlyRegularFilesAndRealFolders) {
  fs::path root = testenv::makeDir("special");
  testenv::writeFile(root / "plain.txt", "p");
  ASSERT_EQ(mkfifo((root / "pipe.txt").c_str(), 0600), 0);
  fs::create_symlink(root / "plain.txt", root / "link.txt");
  fs::create_symlink(root / "missing", root / "dangling.txt");
  fs::create_directory(root / "sub");
  fs::create_directory_symlink(root, root / "sub" / "loop");  // a loop back to the root
  const std::string bad = "bad\xff\xfe.txt";
  testenv::writeFile(root / "sub" / bad, "b");

  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sockPath = (root / "sock.txt").string();
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  Recorder r{root.string(), {}};
  TScruteDossier w;
  r.bind(w);
  w.Execute();
  close(sock);

  Events got(r.events.begin() + 1, r.events.end() - 1);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (Events{"D:sub", "F:link.txt", "F:plain.txt", "F:sub/" + bad}));
}

TEST(ScruteDossier, CurrentFieldsOfTheLastFile) {
  setenv("TZ", "UTC", 1);
  tzset();
  fs::path root = testenv::makeDir("big");
  fs::path big = root / "big.bin";
  testenv::writeFile(big, "");
  fs::resize_file(big, 5368709120ull);  // sparse 5 GiB
  timespec times[2] = {{0, UTIME_OMIT}, {1236254707, 0}};  // 2009-03-05 12:05:07 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, big.c_str(), times, 0), 0);

  TScruteDossier w;
  w.Dossier = root.string();
  w.OnFichier = [](TScruteDossier*, const std::string&) {};
  w.Execute();
  EXPECT_EQ(w.CurrentFile, big.string());
  EXPECT_EQ(w.CurrentSize, 5368709120ll);
  EXPECT_EQ(w.CurrentMTime, 1236254707);
  // 2009-03-05 12:05:06 (even seconds) in the DOS form
  const std::uint32_t dos = ((2009u - 1980) << 25) | (3u << 21) | (5u << 16) | (12u << 11) | (5u << 5) | 3u;
  EXPECT_EQ(static_cast<std::uint32_t>(w.CurrentTime), dos);
  unsetenv("TZ");
  tzset();
}

TEST(ScruteDossier, PumpIsThrottledAndCanStopTheWalk) {
  fs::path root = testenv::makeDir("many");
  for (int i = 0; i < 200; ++i) testenv::writeFile(root / ("f" + std::to_string(i)), "");

  TScruteDossier w;
  w.Dossier = root.string();
  int files = 0, pumps = 0;
  w.OnFichier = [&](TScruteDossier*, const std::string&) { ++files; };
  w.Pump = [&] { ++pumps; };
  w.PumpInterval = std::chrono::hours(1);
  w.Execute();
  EXPECT_EQ(files, 200);
  EXPECT_EQ(pumps, 0);  // never per entry

  // A stop request handled in the pump (a stop button) ends the walk.
  files = 0;
  w.PumpInterval = std::chrono::milliseconds(5);
  w.OnFichier = [&](TScruteDossier*, const std::string&) {
    ++files;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  w.Pump = [&] {
    ++pumps;
    w.Stop = true;
  };
  w.Execute();
  EXPECT_EQ(pumps, 1);
  // Under load the first pump may come before the first report; either way the walk ends there.
  EXPECT_LE(files, 1);
}

TEST(ScruteDossier, SystemRootSkipsPseudoFileSystems) {
  if (!fs::exists("/proc/self")) GTEST_SKIP() << "no /proc mounted";
  std::vector<std::string> folders, files;
  TScruteDossier w;
  w.Dossier = "/";
  w.MaxPenetration = 0;
  w.OnDossier = [&](TScruteDossier*, const std::string& nom) { folders.push_back(nom); };
  w.OnFichier = [&](TScruteDossier*, const std::string& nom) { files.push_back(nom); };
  w.Execute();
  EXPECT_NE(std::find(folders.begin(), folders.end(), "/etc"), folders.end());
  EXPECT_EQ(std::find(folders.begin(), folders.end(), "/proc"), folders.end());
  if (fs::exists("/sys/kernel")) {
    EXPECT_EQ(std::find(folders.begin(), folders.end(), "/sys"), folders.end());
  }
  for (const auto& f : files) {
    EXPECT_TRUE(f.size() > 1 && f[0] == '/' && f[1] != '/') << f;  // one "/" after the root
  }
}

}  // namespace
