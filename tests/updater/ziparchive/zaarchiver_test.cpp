#include "updater/ziparchive/zaarchiver.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <thread>

#include "tests/support/testenv.h"
#include "updater/ziparchive/zaexcept.h"

extern char** environ;

using namespace ziparchive;

namespace {

int codeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EZAException& e) {
    return e.NativeError;
  }
  return -1;
}

// Exposes the mode OpenArchive chose.
struct ProbeArchiver : TZipArchiver {
  uint16_t mode() const { return FFileOpenMode; }
};

}  // namespace

TEST(TZipArchiver, ConstructorValues) {
  TZipArchiver z;
  EXPECT_FALSE(z.ExtractCorruptedFiles);
  EXPECT_EQ(z.CompressionLevel(), clFastest);
  EXPECT_EQ(z.CompressionMode(), 1);
  EXPECT_EQ(z.FCompressionMethod, 8);  // the derived method, chosen after the base constructor
  EXPECT_EQ(z.SpanningMode(), smNone);
  EXPECT_FALSE(z.InMemory());
  EXPECT_EQ(z.Zip64Mode, zmDisabled);
  EXPECT_TRUE(z.FZipFormat);
  EXPECT_TRUE(z.FOpenDamaged);
  EXPECT_FALSE(z.FSuppressPasswordEvent);
  EXPECT_FALSE(z.Active());
  EXPECT_TRUE(z.FileMasks().empty());
  const TZAOptions& o = z.Options;
  EXPECT_TRUE(o.Recurse);
  EXPECT_EQ(o.StorePath, spRelativePath);
  EXPECT_EQ(o.ShareMode, smShareDenyNone);
  EXPECT_EQ(o.OverwriteMode, omAlways);
  EXPECT_TRUE(o.CreateDirs && o.ReplaceReadOnly && o.SetAttributes && o.FlushBuffers && o.OEMFileNames);
  EXPECT_EQ(o.SearchAttr, 10431);
  TZABaseArchiver base;
  EXPECT_EQ(base.FCompressionMethod, 0xFFFF);
  EXPECT_EQ(base.Zip64Mode, zmAuto);
  EXPECT_FALSE(base.FZipFormat);
}

TEST(TZipArchiver, CompressionModeAndLevelFollowEachOther) {
  struct Case {
    int mode;
    TZACompressionLevel level;
    uint16_t method;
  } cases[] = {{0, clNone, 0}, {1, clFastest, 8}, {3, clFastest, 8}, {4, clNormal, 8},
               {5, clNormal, 8}, {6, clNormal, 8}, {7, clMax, 8}, {9, clMax, 8}};
  TZipArchiver z;
  for (const auto& c : cases) {
    z.SetCompressionMode(c.mode);
    EXPECT_EQ(z.CompressionMode(), c.mode);
    EXPECT_EQ(z.CompressionLevel(), c.level) << c.mode;
    EXPECT_EQ(z.FCompressionMethod, c.method) << c.mode;
  }
  z.SetCompressionMode(5);
  for (int bad : {10, 255, 256, -1}) {
    EXPECT_EQ(codeOf([&] { z.SetCompressionMode(bad); }), 5) << bad;
    EXPECT_EQ(z.CompressionMode(), 5);
    EXPECT_EQ(z.CompressionLevel(), clNormal);
  }
  struct LevelCase {
    TZACompressionLevel level;
    uint8_t mode;
    uint16_t method;
  } levels[] = {{clNone, 0, 0}, {clFastest, 1, 8}, {clNormal, 6, 8}, {clMax, 9, 8}};
  for (const auto& c : levels) {
    z.SetCompressionLevel(c.level);
    EXPECT_EQ(z.CompressionMode(), c.mode);
    EXPECT_EQ(z.FCompressionMethod, c.method);
  }
}

TEST(TZipArchiver, CurrentVersionIgnoresLocaleAndWrites) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");  // may be missing; the answer is the same either way
  TZipArchiver z;
  z.SetCurrentVersion("9.99");
  EXPECT_EQ(z.CurrentVersion(), "2.65 ");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TZAOptions, AssignKeepsTheTargetsShareMode) {
  TZAOptions from;
  from.Recurse = false;
  from.StorePath = spNoPath;
  from.ShareMode = smShareExclusive;
  from.OverwriteMode = omIfNewer;
  from.CreateDirs = from.ReplaceReadOnly = from.SetAttributes = from.FlushBuffers = from.OEMFileNames = false;
  from.SearchAttr = 7;
  TZAOptions to;
  to.Assign(from);
  EXPECT_EQ(to.ShareMode, smShareDenyNone);
  EXPECT_FALSE(to.Recurse || to.CreateDirs || to.ReplaceReadOnly || to.SetAttributes || to.FlushBuffers ||
               to.OEMFileNames);
  EXPECT_EQ(to.StorePath, spNoPath);
  EXPECT_EQ(to.OverwriteMode, omIfNewer);
  EXPECT_EQ(to.SearchAttr, 7);
}

TEST(TZipArchiver, MaskListsAreCopiedIn) {
  TZipArchiver z;
  std::vector<std::string> masks = {"*.txt", "*.dat"};
  z.SetFileMasks(masks);
  masks.push_back("*.exe");
  EXPECT_EQ(z.FileMasks().size(), 2u);
  z.SetExclusionMasks({"a"});
  z.SetNoCompressionMasks({"*.zip"});
  EXPECT_EQ(z.ExclusionMasks()[0], "a");
  EXPECT_EQ(z.NoCompressionMasks()[0], "*.zip");
}

TEST(TZipArchiver, OpenErrorsAndTheirCodes) {
  auto root = testenv::testRoot();
  TZipArchiver z;
  z.Name = "ZipArchiver1";
  EXPECT_EQ(codeOf([&] { z.OpenArchive(); }), 9);
  z.FileName = (root / "folder/").string();
  EXPECT_EQ(codeOf([&] { z.OpenArchive(); }), 9);
  EXPECT_EQ(codeOf([&] { z.OpenArchiveMode(0x20); }), 10);

  z.FileName = (root / "missing.zip").string();
  try {
    z.OpenArchiveMode(0x20);
    FAIL();
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 12);
    EXPECT_EQ(std::string(e.what()),
              "ZipArchiver1: File \"" + z.FileName + "\" not found - Native error: 00012");
  }
  EXPECT_FALSE(z.Active());

  z.FileName = testenv::writeFile(root / "there.zip", "").string();
  z.SetInMemory(true);
  EXPECT_EQ(codeOf([&] { z.OpenArchiveMode(0x20); }), 28);
  EXPECT_EQ(codeOf([&] { z.ExtractFiles("*.*", 0x28BF, ""); }), 13);
  EXPECT_EQ(codeOf([&] { z.CheckActive(); }), 13);
}

TEST(TZipArchiver, CloseIsHarmlessAndSpanningModeWaitsForIt) {
  TZipArchiver z;
  z.CloseArchive();
  z.CloseArchive();
  EXPECT_FALSE(z.Active());
  z.FileName = (testenv::testRoot() / "new.zip").string();
  int opened = 0;
  z.AfterOpen = [&](TZABaseArchiver* sender) {
    EXPECT_EQ(sender, &z);
    ++opened;
  };
  z.OpenArchive();  // a missing file is created
  EXPECT_TRUE(z.Active());
  EXPECT_EQ(opened, 1);
  try {
    z.SetSpanningMode(smSpanning);
    FAIL();
  } catch (const EZAException&) {
    FAIL() << "the spanning refusal is not an engine code";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot set spanning mode on open archive");
  }
  EXPECT_EQ(z.SpanningMode(), smNone);
  z.CloseArchive();
  z.CloseArchive();
  // A new archive closed without entries holds an empty end record.
  EXPECT_EQ(testenv::readFile(z.FileName), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  z.SetSpanningMode(smSplitting);
  EXPECT_EQ(z.SpanningMode(), smSplitting);
}

TEST(TZipArchiver, OpenArchiveFallsBackToReadOnlyWhileAnotherProcessWrites) {
  // An empty archive: its end record alone.
  const std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  auto path = testenv::writeFile(testenv::testRoot() / "held.zip", empty).string();
  ProbeArchiver z;
  z.FileName = path;
  z.OpenArchive();
  EXPECT_EQ(z.mode(), kOpenReadWriteDenyWrite);
  z.CloseArchive();

  // A second process keeps the file open for writing.
  std::string script = "exec 3>>'" + path + "'; echo ready; exec sleep 30";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char ready[8] = {};
  ASSERT_GT(read(out[0], ready, sizeof ready), 0);
  close(out[0]);

  z.OpenArchive();
  uint16_t held = z.mode();
  z.CloseArchive();
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(held, kOpenReadDenyNone);

  z.OpenArchive();
  EXPECT_EQ(z.mode(), kOpenReadWriteDenyWrite);
}

TEST(TZipArchiver, InMemoryArchiveIsWrittenToItsFileWhenLeft) {
  auto root = testenv::testRoot();
  TZipArchiver z;
  z.SetInMemory(true);
  z.OpenArchive();
  EXPECT_TRUE(z.Active());
  EXPECT_EQ(codeOf([&] { z.SetInMemory(false); }), 29);  // blank FileName
  EXPECT_TRUE(z.InMemory());

  // The target folder is a file: the write fails and the old state is kept.
  testenv::writeFile(root / "plain", "keep");
  z.FileName = (root / "plain" / "a.zip").string();
  EXPECT_EQ(codeOf([&] { z.SetInMemory(false); }), 19);
  EXPECT_TRUE(z.InMemory());

  z.FileName = testenv::writeFile(root / "a.zip", "old contents").string();
  z.SetInMemory(false);
  EXPECT_FALSE(z.InMemory());
  EXPECT_TRUE(z.Active());
  EXPECT_EQ(testenv::readFile(z.FileName), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(TZipArchiver, FindFirstItemPreparesTheSearchRecord) {
  struct Case {
    const char* mask;
    TZAStorePathMode storePath;
    const char* fileMask;
    bool wildcards;
  } cases[] = {
      {"C:\\Data\\*.txt", spRelativePath, "/Data/*.txt", true},
      {"C:\\Data\\*.txt", spFullPathWithDrive, "C:/Data/*.txt", true},
      {"\\\\srv\\share\\d\\a?.txt", spFullPath, "/d/a?.txt", true},
      {"dir\\12:30.txt", spRelativePath, "dir/12:30.txt", false},
      {"", spRelativePath, "", false},
  };
  TZipArchiver z;
  for (const auto& c : cases) {
    z.Options.StorePath = c.storePath;
    TZAArchiveItem item;
    item.InternalSearchRec.ItemIndex = 7;
    item.InternalSearchRec.UseMaskProperties = true;
    z.FindFirstItem(c.mask, item, 0x28BF, "ex*");
    const TInternalSearchRec& rec = item.InternalSearchRec;
    EXPECT_EQ(rec.FileMask, c.fileMask) << c.mask;
    EXPECT_EQ(rec.HasWildcards, c.wildcards) << c.mask;
    EXPECT_EQ(rec.ExclusionMask, "ex*");
    EXPECT_FALSE(rec.UseMaskProperties);
    EXPECT_EQ(rec.Attributes, 0x28BFu);
    EXPECT_GE(rec.ItemIndex, 0);
  }
}

TEST(TZipArchiver, MissingArchiveOnARemovableDriveIsNotReportedMissing) {
  platform::SystemRoots roots;
  roots.proc = (testenv::fixtures() / "drives-desktop/proc").string();
  roots.sys = (testenv::fixtures() / "drives-desktop/sys").string();
  SetDriveQueryRoots(roots);
  TZipArchiver z;
  z.FileName = "/media/u/KEY/missing.zip";
  int code = codeOf([&] {
    try {
      z.OpenArchiveMode(0x20);
    } catch (const EZAStreamError&) {
      // the open dispatch ran and found nothing to open
    }
  });
  z.FileName = (testenv::testRoot() / "fixed-missing.zip").string();
  int fixedCode = codeOf([&] { z.OpenArchiveMode(0x20); });
  SetDriveQueryRoots({});
  EXPECT_NE(code, 12);
  EXPECT_EQ(fixedCode, 12);
  EXPECT_FALSE(z.Active());
}
