#include "scheduler/core/logpurge.h"

#include "scheduler/core/scrutedossier.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

void SetMtime(const fs::path& p, std::time_t t) {
  struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

// An even second keeps the two-second DOS steps out of the boundary.
std::time_t Noon() {
  std::tm tm{};
  tm.tm_year = 124, tm.tm_mon = 5, tm.tm_mday = 15, tm.tm_hour = 12, tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace

TEST(LogPurge, BoundaryOfTheDaysKept) {
  const std::time_t now = Noon();
  const std::time_t day = 86400;
  struct Case {
    std::time_t written;
    int days;
    bool expired;
  } cases[] = {
      {now - 30 * day - 2, 30, true},   // 30 days and 2 s ago
      {now - 30 * day, 30, false},      // exactly at the limit stays
      {now - 29 * day, 30, false},
      {now, 1, false},                  // today's log always stays
      {now - day - 2, 1, true},
      {now - 400 * day, 365, true},
      {0, 1, false},                    // before 1980: undated, kept
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(core::LogIsExpired(c.written, now, c.days), c.expired);
  }
}

TEST(LogPurge, DeletesOnlyOldLogsOfTheFolderAndGoesOnPastUndatedOnes) {
  auto dir = testenv::makeDir("data");
  const std::time_t now = Noon(), day = 86400;
  auto old1 = testenv::writeFile(dir / "20240101.log", "a");
  auto ancient = testenv::writeFile(dir / "19700101.log", "b");
  auto old2 = testenv::writeFile(dir / "20240102.log", "c");
  auto young = testenv::writeFile(dir / "20240614.log", "d");
  auto other = testenv::writeFile(dir / "serie.ini", "e");
  auto deeper = testenv::writeFile(dir / "sub" / "20240101.log", "f");
  for (auto& p : {old1, old2, other, deeper}) SetMtime(p, now - 100 * day);
  SetMtime(ancient, 0);
  SetMtime(young, now - day);

  core::TScruteDossier walker;
  EXPECT_EQ(core::PurgeLogs(walker, dir.string(), 15, now), 2);
  EXPECT_FALSE(fs::exists(old1));
  EXPECT_FALSE(fs::exists(old2));
  EXPECT_TRUE(fs::exists(ancient));
  EXPECT_TRUE(fs::exists(young));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(fs::exists(deeper));
}

// Planted entries: nothing outside the folder is deleted or entered, whatever the link or name.
TEST(LogPurge, NeverReachesOutsideTheFolder) {
  const std::time_t now = Noon(), old = now - 100 * 86400;
  auto dir = testenv::makeDir("data");
  auto outside = testenv::makeDir("outside");
  auto outsideFile = testenv::writeFile(outside / "precious.txt", "keep");
  auto outsideLog = testenv::writeFile(outside / "20240101.log", "keep");
  SetMtime(outsideFile, old);
  SetMtime(outsideLog, old);
  fs::create_symlink(outsideFile, dir / "20240102.log");
  fs::create_directory_symlink(outside, dir / "20240103.log");
  fs::create_directory(dir / "20240104.log");
  auto inFolder = testenv::writeFile(dir / "20240104.log" / "20240101.log", "keep");
  SetMtime(dir / "20240104.log", old);
  SetMtime(inFolder, old);
  ASSERT_EQ(::mkfifo((dir / "20240105.log").c_str(), 0600), 0);
  SetMtime(dir / "20240105.log", old);
  auto unreadable = testenv::writeFile(dir / "20240106.log", "old");
  SetMtime(unreadable, old);
  fs::permissions(unreadable, fs::perms::none);

  core::TScruteDossier walker;
  core::PurgeLogs(walker, dir.string(), 30, now);
  EXPECT_EQ(testenv::readFile(outsideFile), "keep");
  EXPECT_EQ(testenv::readFile(outsideLog), "keep");
  EXPECT_TRUE(fs::is_directory(dir / "20240104.log"));
  EXPECT_TRUE(fs::exists(inFolder));
  EXPECT_TRUE(fs::is_fifo(dir / "20240105.log"));
  EXPECT_TRUE(fs::is_symlink(dir / "20240103.log"));
  EXPECT_FALSE(fs::exists(unreadable));  // an old log of the folder, read or not
}
