#include "updater/stagedinstall.h"

#include <gtest/gtest.h>

#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using namespace updater;

namespace {

struct Folders {
  fs::path staging = testenv::makeDir("staging");
  fs::path target = testenv::makeDir("program");
  fs::path backup = testenv::makeDir("backup");
};

}  // namespace

TEST(StagedInstall, NewFilesReplaceOldOnesAndFoldersAreCreated) {
  Folders f;
  testenv::writeFile(f.target / "Quillomet", "old");
  testenv::writeFile(f.target / "garder.txt", "untouched");
  testenv::writeFile(f.staging / "Quillomet", "new");
  testenv::writeFile(f.staging / "aide" / "sous" / "guide.txt", "guide");
  const auto r = InstallStaged(f.staging, f.target, f.backup);
  ASSERT_TRUE(r.Ok) << r.Message;
  EXPECT_EQ(r.Files, 2);
  EXPECT_EQ(testenv::readFile(f.target / "Quillomet"), "new");
  EXPECT_EQ(testenv::readFile(f.target / "aide" / "sous" / "guide.txt"), "guide");
  EXPECT_EQ(testenv::readFile(f.target / "garder.txt"), "untouched");
  EXPECT_EQ(testenv::readFile(f.backup / "Quillomet"), "old");
}

TEST(StagedInstall, AFailureHalfwayPutsEverythingBack) {
  Folders f;
  testenv::writeFile(f.target / "a.txt", "old a");
  testenv::writeFile(f.target / "z.txt", "old z");
  fs::create_directories(f.target / "m.txt");  // a folder where the update has a file
  testenv::writeFile(f.target / "m.txt" / "inside", "kept");
  for (const char* name : {"a.txt", "m.txt", "z.txt", "neuf/n.txt"}) testenv::writeFile(f.staging / name, "new");
  const auto r = InstallStaged(f.staging, f.target, f.backup);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Message.find("m.txt"), std::string::npos) << r.Message;
  EXPECT_EQ(testenv::readFile(f.target / "a.txt"), "old a");
  EXPECT_EQ(testenv::readFile(f.target / "z.txt"), "old z");
  EXPECT_EQ(testenv::readFile(f.target / "m.txt" / "inside"), "kept");
  EXPECT_FALSE(fs::exists(f.target / "neuf"));
}
