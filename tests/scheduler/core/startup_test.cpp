#include "scheduler/core/startup.h"

#include <gtest/gtest.h>

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

}  // namespace
