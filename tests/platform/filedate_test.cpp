#include "platform/filedate.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/testenv.h"

namespace {

std::tm Local(int y, int mo, int d, int h, int mi, int s) { return testenv::makeTm(y, mo, d, h, mi, s); }

std::int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm = testenv::makeTm(y, mo, d, h, mi, s);
  return timegm(&tm);
}

class FileDate : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_ = tz ? tz : "";
    had_ = tz != nullptr;
    // Central European time with its summer rule, written out so no zone database is needed.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string saved_;
  bool had_ = false;
};

TEST_F(FileDate, LocalTimeToUtcFileTimeInTwoSecondSteps) {
  struct Case {
    std::tm local;
    std::int64_t utc;
  } cases[] = {
      {Local(2009, 3, 5, 10, 0, 7), Utc(2009, 3, 5, 9, 0, 6)},    // winter, odd second cut
      {Local(2009, 7, 1, 12, 0, 0), Utc(2009, 7, 1, 10, 0, 0)},   // summer time
      {Local(1980, 1, 1, 1, 0, 0), Utc(1980, 1, 1, 0, 0, 0)},     // first DOS second
      {Local(2107, 12, 31, 23, 59, 59), Utc(2107, 12, 31, 22, 59, 58)},
  };
  for (const auto& c : cases) {
    const auto ft = platform::DateTimeToUtcFileTime(c.local);
    ASSERT_TRUE(ft);
    EXPECT_EQ(*ft % 10000000u, 0u);
    EXPECT_EQ(platform::FileTimeToUnix(*ft), c.utc);
  }
  // 100-ns units since 1601: 1 January 1970 UTC is 116444736000000000.
  EXPECT_EQ(*platform::DateTimeToUtcFileTime(Local(2009, 3, 5, 10, 0, 6)),
            static_cast<std::uint64_t>(Utc(2009, 3, 5, 9, 0, 6) + 11644473600) * 10000000u);
  EXPECT_FALSE(platform::DateTimeToUtcFileTime(Local(1979, 12, 31, 23, 0, 0)));
  EXPECT_FALSE(platform::DateTimeToUtcFileTime(Local(2108, 1, 2, 0, 0, 0)));
}

TEST_F(FileDate, DateduSetsBothTimesAndIsSilentOnFailure) {
  const auto file = testenv::writeFile(testenv::testRoot() / "a.txt", "abc");
  platform::datedu(file.string(), Local(2009, 3, 5, 10, 0, 7));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, Utc(2009, 3, 5, 9, 0, 6));
  EXPECT_EQ(st.st_atime, Utc(2009, 3, 5, 9, 0, 6));
  EXPECT_EQ(testenv::readFile(file), "abc");

  const auto missing = testenv::testRoot() / "missing.txt";
  platform::datedu(missing.string(), Local(2009, 3, 5, 10, 0, 0));
  EXPECT_FALSE(std::filesystem::exists(missing));
  const auto folder = testenv::makeDir("folder");
  struct stat before, after;
  stat(folder.c_str(), &before);
  platform::datedu(folder.string(), Local(2009, 3, 5, 10, 0, 0));
  stat(folder.c_str(), &after);
  EXPECT_EQ(before.st_mtime, after.st_mtime);
  // Out of the DOS range: nothing changes.
  platform::datedu(file.string(), Local(1975, 1, 1, 0, 0, 0));
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, Utc(2009, 3, 5, 9, 0, 6));
}

}  // namespace
