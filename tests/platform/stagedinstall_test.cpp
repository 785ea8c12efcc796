#include "platform/stagedinstall.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <functional>
#include <map>

#include "tests/support/foldersnapshot.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using namespace platform;
using namespace std::string_literals;

namespace {

bool OfAnInstall(const std::string& name) { return name.rfind(".Quillomet", 0) == 0 || name.rfind("..Quillomet", 0) == 0; }

// What the program folder holds but an install's own entries.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  auto out = testenv::snapshot(root, ".Quillomet");
  std::erase_if(out, [](const auto& e) { return e.first.rfind("..Quillomet", 0) == 0; });
  return out;
}

mode_t ModeOf(const fs::path& p) {
  struct stat st;
  EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

// Names in the program folder that belong to an install in progress.
std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (OfAnInstall(name)) out.push_back(name);
  }
  return out;
}

// A fresh program folder per use.
struct Folders {
  static inline int made = 0;
  fs::path target = testenv::makeDir("program" + std::to_string(++made));
  fs::path staging = MakeStagingFolder(target);
};

// Sets or clears the immutable flag (even root cannot rename over such a file); false where
// the file system or the privileges do not allow it.
bool SetImmutable(const fs::path& p, bool on) {
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return ok;
}

}  // namespace

TEST(StagedInstall, NewFilesReplaceOldOnesAndFoldersAreCreated) {
  Folders f;
  ASSERT_FALSE(f.staging.empty());
  testenv::writeFile(f.target / "Quillomet", "old");
  testenv::writeFile(f.target / "garder.txt", "untouched");
  testenv::writeFile(f.staging / "Quillomet", "new");
  testenv::writeFile(f.staging / "aide" / "sous" / "guide.txt", "guide");
  fs::create_directories(f.staging / "vide");
  const auto r = InstallStaged(f.staging, f.target, "Quillomet");
  ASSERT_TRUE(r.Ok) << r.Message;
  EXPECT_EQ(r.Files, 2);
  EXPECT_EQ(testenv::readFile(f.target / "Quillomet"), "new");
  EXPECT_EQ(testenv::readFile(f.target / "aide" / "sous" / "guide.txt"), "guide");
  EXPECT_EQ(testenv::readFile(f.target / "garder.txt"), "untouched");
  EXPECT_TRUE(fs::is_directory(f.target / "vide"));
  EXPECT_TRUE(Leftovers(f.target).empty());
}

// A staged file takes the mode of the installed file it replaces (archives from systems without
// Unix modes give none), the program stays executable, a new file keeps its own mode.
TEST(StagedInstall, ModesComeFromTheReplacedFileAndTheProgramStaysExecutable) {
  struct Case {
    const char* name;
    int installed;  // -1: no installed file
    int staged;
    int expected;
  };
  const Case cases[] = {
      {"Quillomet", 0755, 0644, 0755},
      {"Quillomet-neuf", -1, 0644, 0644},  // not the program: its own mode
      {"Update", 0750, 0600, 0750},
      {"lisezmoi.txt", 0600, 0755, 0600},
      {"aide/guide.txt", 0644, 0666, 0644},
  };
  for (const char* program : {"Quillomet", "Quillomet-neuf"}) {
    SCOPED_TRACE(program);
    Folders f;
    for (const auto& c : cases) {
      if (c.installed >= 0) {
        testenv::writeFile(f.target / c.name, "old");
        chmod((f.target / c.name).c_str(), mode_t(c.installed));
      }
      testenv::writeFile(f.staging / c.name, "new");
      chmod((f.staging / c.name).c_str(), mode_t(c.staged));
    }
    const auto r = InstallStaged(f.staging, f.target, program);
    ASSERT_TRUE(r.Ok) << r.Message;
    for (const auto& c : cases) {
      const mode_t want = std::string(c.name) == program ? (mode_t(c.expected) | 0111) : mode_t(c.expected);
      EXPECT_EQ(ModeOf(f.target / c.name), want) << c.name;
    }
  }
}

// Nothing is put in place when the staged set holds a link or a special file, holds no file at
// all, or cannot take the place of what is installed.
TEST(StagedInstall, RefusedSetsLeaveTheFolderAsItWas) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& staging, const fs::path& target)> make;
    const char* messagePart;
  };
  const Case cases[] = {
      {"link named like the program",
       [](const fs::path& s, const fs::path&) { fs::create_symlink("/etc/passwd", s / "Quillomet"); }, "lien"},
      {"link in a sub-folder",
       [](const fs::path& s, const fs::path&) {
         fs::create_directories(s / "aide");
         fs::create_symlink("../..", s / "aide" / "retour");
       },
       "aide/retour"},
      {"named pipe", [](const fs::path& s, const fs::path&) { mkfifo((s / "tube").c_str(), 0644); }, "tube"},
      {"folders only",
       [](const fs::path& s, const fs::path&) {
         fs::remove(s / "a.txt");
         fs::create_directories(s / "aide" / "images");
       },
       "aucun fichier"},
      {"folder where a file is installed",
       [](const fs::path& s, const fs::path& t) {
         testenv::writeFile(t / "m.txt" / "dedans", "kept");
         testenv::writeFile(s / "m.txt", "new");
       },
       "m.txt"},
      {"file where a folder is installed",
       [](const fs::path& s, const fs::path&) { testenv::writeFile(s / "lisezmoi.txt" / "x", "new"); },
       "lisezmoi.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folders f;
    testenv::writeFile(f.target / "Quillomet", "old program");
    chmod((f.target / "Quillomet").c_str(), 0755);
    testenv::writeFile(f.target / "lisezmoi.txt", "old");
    testenv::writeFile(f.staging / "a.txt", "new a");
    c.make(f.staging, f.target);
    const auto before = Snapshot(f.target);
    const auto r = InstallStaged(f.staging, f.target, "Quillomet");
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Message.find(c.messagePart), std::string::npos) << r.Message;
    EXPECT_EQ(Snapshot(f.target), before);
    fs::remove_all(f.staging);
    EXPECT_TRUE(Leftovers(f.target).empty());
  }
}

// A rename that fails after the journal is written undoes the files already put in place.
TEST(StagedInstall, AFailureHalfwayPutsEverythingBack) {
  Folders f;
  testenv::writeFile(f.target / "a.txt", "old a");
  testenv::writeFile(f.target / "m.txt", "old m");
  testenv::writeFile(f.target / "z.txt", "old z");
  for (const char* name : {"a.txt", "m.txt", "z.txt", "neuf/n.txt", "b.txt"}) testenv::writeFile(f.staging / name, "new");
  if (!SetImmutable(f.target / "m.txt", true)) GTEST_SKIP() << "no immutable flag here";
  const auto before = Snapshot(f.target);
  const auto r = InstallStaged(f.staging, f.target, "Quillomet");
  SetImmutable(f.target / "m.txt", false);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Message.find("m.txt"), std::string::npos) << r.Message;
  auto after = Snapshot(f.target);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(Leftovers(f.target).empty());
}

// The state a killed install leaves, made step by step as the install does it; the next start
// finishes it, or undoes it when it was being undone.
TEST(StagedInstall, TheNextStartFinishesOrUndoesAKilledInstall) {
  struct Case {
    const char* what;
    bool undo;
    int placed;  // files already put in place, in install order
    bool expectNew;
  };
  const Case cases[] = {
      {"killed after the journal", false, 0, true},
      {"killed halfway", false, 2, true},
      {"killed before the last file", false, 3, true},
      {"killed while undoing", true, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folders f;
    testenv::writeFile(f.target / "Quillomet", "old program");
    testenv::writeFile(f.target / "b.txt", "old b");
    testenv::writeFile(f.target / "c.txt", "old c");
    const auto old = Snapshot(f.target);
    InstallJournal j;
    j.Undo = c.undo;
    j.Staging = f.staging.filename().string();
    j.Backup = ".Quillomet-ancien-test";
    j.Steps = {{'D', "aide"}, {'N', "aide/guide.txt"}, {'R', "Quillomet"}, {'R', "b.txt"}, {'R', "c.txt"}};
    for (const auto& s : j.Steps) {
      if (s.Kind == 'D') {
        fs::create_directories(f.staging / s.Path);
      } else {
        testenv::writeFile(f.staging / s.Path, "new " + s.Path);
      }
    }
    fs::create_directories(f.target / j.Backup);
    ASSERT_TRUE(WriteInstallJournal(f.target, j));
    fs::create_directories(f.target / "aide");
    int placed = 0;
    for (const auto& s : j.Steps) {
      if (s.Kind == 'D' || placed == c.placed) continue;
      if (s.Kind == 'R') fs::create_hard_link(f.target / s.Path, f.target / j.Backup / s.Path);
      fs::rename(f.staging / s.Path, f.target / s.Path);
      ++placed;
    }
    const auto r = FinishInterruptedInstall(f.target);
    EXPECT_TRUE(r.Ok) << r.Message;
    EXPECT_TRUE(Leftovers(f.target).empty());
    if (c.expectNew) {
      for (const auto& s : j.Steps) {
        if (s.Kind == 'D') continue;
        EXPECT_EQ(testenv::readFile(f.target / s.Path), "new " + s.Path);
      }
    } else {
      EXPECT_EQ(Snapshot(f.target), old);
    }
  }
}

TEST(StagedInstall, StartLeavesAnInstallInProgressAloneAndCleansWhatADeadOneLeft) {
  Folders f;
  testenv::writeFile(f.target / "Quillomet", "program");
  testenv::writeFile(f.staging / "Quillomet", "new");
  fs::create_directories(f.target / ".Quillomet-ancien-abc123");
  testenv::writeFile(f.target / "..Quillomet-installation.Xyz123", "half a journal");
  {
    // Another process holds the folder: nothing is touched.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
      InstallLock lock;
      const char c = lock.Acquire(f.target) ? '1' : '0';
      (void)!write(ready[1], &c, 1);
      pause();
      _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    InstallLock mine;
    EXPECT_FALSE(mine.Acquire(f.target));
    EXPECT_TRUE(FinishInterruptedInstall(f.target).Ok);
    EXPECT_EQ(Leftovers(f.target).size(), 3u);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
  }
  // Its holder gone, the lock is free and what it left goes.
  EXPECT_TRUE(FinishInterruptedInstall(f.target).Ok);
  EXPECT_TRUE(Leftovers(f.target).empty());
  EXPECT_EQ(testenv::readFile(f.target / "Quillomet"), "program");
}

TEST(StagedInstall, AJournalThatCannotBeReadIsLeftWithTheFilesItNames) {
  // Not one, cut short, and one that would reach outside the folder.
  for (const std::string& bytes : {"garbage"s, "QUILLOMET-INSTALLATION 1\0terminer\0"s,
                                   "QUILLOMET-INSTALLATION 1\0terminer\0.Quillomet-nouveau-a\0"
                                   ".Quillomet-ancien-b\0N../../etc/passwd\0FIN\0"s}) {
    Folders f;
    testenv::writeFile(f.target / ".Quillomet-installation", bytes);
    testenv::writeFile(f.staging / "x", "new");
    const auto r = FinishInterruptedInstall(f.target);
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Message.find("illisible"), std::string::npos) << r.Message;
    EXPECT_EQ(Leftovers(f.target).size(), 2u);
  }
}
