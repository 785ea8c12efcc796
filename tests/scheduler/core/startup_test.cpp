#include "scheduler/core/startup.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/testenv.h"

namespace {

TEST(CopyThreshold, MegabytesTimesMebibyteIn64Bits) {
  EXPECT_EQ(core::CopyThresholdOf(6000), 6291456000ull);
  EXPECT_EQ(core::CopyThresholdOf(4096), 4294967296ull);  // one past 32 bits
  EXPECT_EQ(core::CopyThresholdOf(500000), 524288000000ull);
  EXPECT_EQ(core::CopyThresholdOf(100), 104857600ull);
}

TEST(LanguageName, FirstArgumentAsItStandsElseEnglish) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{"Quillomet", "FRENCH"}, "FRENCH"},
      {{"Quillomet", "french", "X"}, "french"},
      {{"Quillomet"}, "ENGLISH"},
      {{"Quillomet", ""}, "ENGLISH"},
      {{}, "ENGLISH"},
  };
  for (const auto& c : cases) EXPECT_EQ(core::LanguageNameFrom(c.args), c.expected);
}

TEST(DataFolder, UnderTheDataHomeEndingWithSlashNeverAtTheRoot) {
  EXPECT_EQ(core::DataFolderIn("/home/u/.local/share"), "/home/u/.local/share/Quillomet/");
  EXPECT_EQ(core::DataFolderIn("/home/u/.local/share/"), "/home/u/.local/share/Quillomet/");
  const std::string fallback = core::DataFolderIn("");
  EXPECT_NE(fallback, "/Quillomet/");
  EXPECT_EQ(fallback.back(), '/');
  EXPECT_EQ(fallback.rfind("/Quillomet/"), fallback.size() - 11);
}

TEST(FirstRun, DecidedBySettingsFile) {
  const std::string folder = testenv::makeDir("data").string() + "/";
  EXPECT_TRUE(core::IsFirstRun(folder));
  testenv::writeFile(folder + "serie.ini", "");
  EXPECT_FALSE(core::IsFirstRun(folder));
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(DataFolderModes, EarlierOpenModesAreNarrowedOthersKept) {
  struct Case {
    mode_t folder, reseau, serie;
    mode_t folderAfter, reseauAfter, serieAfter;
  } cases[] = {
      {0755, 0644, 0644, 0700, 0600, 0600},
      {0777, 0666, 0600, 0700, 0600, 0600},
      {0700, 0600, 0600, 0700, 0600, 0600},
      {0500, 0400, 0400, 0500, 0400, 0400},  // narrower already: kept
  };
  for (const auto& c : cases) {
    const std::string folder = testenv::makeDir("data").string() + "/";
    testenv::writeFile(folder + "reseau.ini", "pc|x|y|\n");
    testenv::writeFile(folder + "serie.ini", "[Form1]\n");
    testenv::writeFile(folder + "20260101.log", "");
    ::chmod((folder + "reseau.ini").c_str(), c.reseau);
    ::chmod((folder + "serie.ini").c_str(), c.serie);
    ::chmod((folder + "20260101.log").c_str(), 0644);
    ::chmod(folder.c_str(), c.folder);
    core::NarrowDataFolderModes(folder);
    EXPECT_EQ(ModeOf(folder), c.folderAfter);
    EXPECT_EQ(ModeOf(folder + "reseau.ini"), c.reseauAfter);
    EXPECT_EQ(ModeOf(folder + "serie.ini"), c.serieAfter);
    EXPECT_EQ(ModeOf(folder + "20260101.log"), 0644u);  // no credentials there
    ::chmod(folder.c_str(), 0700);
  }
}

TEST(DataFolderModes, LinksAreNotFollowedMissingFilesAreFine) {
  const std::string outside = testenv::writeFile(testenv::testRoot() / "outside.txt", "x").string();
  ::chmod(outside.c_str(), 0644);
  const std::string folder = testenv::makeDir("data").string() + "/";
  std::filesystem::create_symlink(outside, folder + "reseau.ini");
  core::NarrowDataFolderModes(folder);
  EXPECT_EQ(ModeOf(outside), 0644u);

  const std::string linkedFolder = (testenv::testRoot() / "linked").string();
  const std::string real = testenv::makeDir("real").string();
  ::chmod(real.c_str(), 0755);
  std::filesystem::create_symlink(real, linkedFolder);
  core::NarrowDataFolderModes(linkedFolder + "/");
  EXPECT_EQ(ModeOf(real), 0755u);

  core::NarrowDataFolderModes((testenv::testRoot() / "missing/").string());
}

}  // namespace
