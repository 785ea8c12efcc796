#include "platform/specialfolders.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/testenv.h"

namespace {

using namespace platform;

TEST(SpecialFolders, DataHomeAndItsFallbacks) {
  const std::string home = std::getenv("HOME");
  setenv("XDG_DATA_HOME", "/srv/data/", 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData), "/srv/data");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData), home + "/.local/share");
  setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData), home + "/.local/share");
  setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData), home + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(kCsidlFonts), home + "/.local/share/fonts");
  setenv("XDG_CACHE_HOME", "/var/cache/u", 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlInternetCache), "/var/cache/u");
  EXPECT_EQ(SpecialFolderPath(kCsidlProfile), home);
}

TEST(SpecialFolders, UserDirsFromTheirFileElseTheUsualNames) {
  const std::string home = std::getenv("HOME");
  const auto config = testenv::makeDir("config");
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlPersonal), home + "/Documents");
  testenv::writeFile(config / "user-dirs.dirs",
                     "# written by xdg-user-dirs-update\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/Mes documents\"\n"
                     "XDG_MUSIC_DIR=\"/data/Musique/\"\n"
                     "XDG_VIDEOS_DIR=\"relative\"\n");
  EXPECT_EQ(SpecialFolderPath(kCsidlPersonal), home + "/Mes documents");
  EXPECT_EQ(SpecialFolderPath(kCsidlMyMusic), "/data/Musique");
  EXPECT_EQ(SpecialFolderPath(kCsidlMyVideo), home + "/Videos");
  EXPECT_EQ(SpecialFolderPath(kCsidlTemplates), home + "/Templates");
}

TEST(SpecialFolders, WindowsOnlyFoldersAreEmpty) {
  for (int csidl : {33 /* cookies */, 34 /* history */, kCsidlFavorites, 9999, -1})
    EXPECT_EQ(SpecialFolderPath(csidl), "") << csidl;
}

}  // namespace
