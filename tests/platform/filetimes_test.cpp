#include "platform/filetimes.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

std::time_t Local(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm = testenv::makeTm(y, mo, d, h, mi, s);
  return std::mktime(&tm);
}

}  // namespace

TEST(DosDateTime, RangeStepsAndOrder) {
  EXPECT_FALSE(platform::DosDateTime(Local(1979, 12, 31, 23, 59, 58)));
  EXPECT_FALSE(platform::DosDateTime(Local(2108, 1, 1, 0, 0, 0)));
  EXPECT_FALSE(platform::DosDateTime(0));
  ASSERT_TRUE(platform::DosDateTime(Local(1980, 1, 1, 0, 0, 0)));
  EXPECT_EQ(*platform::DosDateTime(Local(1980, 1, 1, 0, 0, 0)), 0x00210000u);
  EXPECT_TRUE(platform::DosDateTime(Local(2107, 12, 31, 23, 59, 59)));

  // Two-second steps: an odd second equals the even one before it.
  auto even = platform::DosDateTime(Local(2024, 6, 1, 10, 0, 0));
  auto odd = platform::DosDateTime(Local(2024, 6, 1, 10, 0, 1));
  auto next = platform::DosDateTime(Local(2024, 6, 1, 10, 0, 2));
  EXPECT_EQ(even, odd);
  EXPECT_LT(*odd, *next);
  // Packed values order like times across fields.
  EXPECT_LT(*platform::DosDateTime(Local(2024, 6, 1, 23, 59, 58)), *platform::DosDateTime(Local(2024, 6, 2, 0, 0, 0)));
  EXPECT_LT(*platform::DosDateTime(Local(2024, 12, 31, 0, 0, 0)), *platform::DosDateTime(Local(2025, 1, 1, 0, 0, 0)));
}

TEST(DosDateTime, WallClockRoundTrip) {
  std::time_t t = Local(2024, 3, 5, 9, 5, 7);
  auto dos = platform::DosDateTime(t);
  ASSERT_TRUE(dos);
  EXPECT_EQ(*platform::DosToWallClock(*dos), platform::WallClock(t) - 1);
  EXPECT_FALSE(platform::DosToWallClock(0));  // month 0
}

namespace {

// Sets TZ for the scope and puts the old one back; zones are written out as rules, so no zone
// database is needed.
class ZoneScope {
 public:
  explicit ZoneScope(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ZoneScope() {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

std::int64_t Wall(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm = testenv::makeTm(y, mo, d, h, mi, s);
  return static_cast<std::int64_t>(timegm(&tm));
}

}  // namespace

// Local wall-clock times back to times, around each kind of change of offset: summer time
// skips an hour (read in the winter offset, as mktime does), winter time repeats one (the
// earlier is taken), half-hour offsets and changes, the southern hemisphere's reversed year.
TEST(FromWallClock, ChangesOfOffsetTable) {
  struct Case {
    const char* zone;
    int y, mo, d, h, mi;
    const char* utc;  // the expected time, in UTC
  };
  const Case cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 1, 15, 12, 0, "2024-01-15 11:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 7, 15, 12, 0, "2024-07-15 10:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 3, 31, 1, 59, "2024-03-31 00:59"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 3, 31, 2, 30, "2024-03-31 01:30"},  // skipped
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 3, 31, 3, 0, "2024-03-31 01:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 10, 27, 1, 59, "2024-10-26 23:59"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 10, 27, 2, 30, "2024-10-27 00:30"},  // repeated
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2024, 10, 27, 3, 0, "2024-10-27 02:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 2107, 12, 31, 23, 58, "2107-12-31 22:58"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1980, 1, 1, 0, 0, "1979-12-31 23:00"},
      {"EST5EDT,M3.2.0,M11.1.0", 2024, 3, 10, 2, 30, "2024-03-10 07:30"},  // skipped
      {"EST5EDT,M3.2.0,M11.1.0", 2024, 11, 3, 1, 30, "2024-11-03 05:30"},  // repeated
      {"EST5EDT,M3.2.0,M11.1.0", 2024, 11, 3, 2, 0, "2024-11-03 07:00"},
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2024, 10, 6, 2, 15, "2024-10-05 15:45"},  // skipped
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2024, 4, 7, 1, 45, "2024-04-06 14:45"},   // repeated
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2024, 1, 1, 12, 0, "2024-01-01 01:00"},
      {"<-03>3<-02>,M10.3.0/0,M2.3.0/0", 2024, 10, 20, 0, 30, "2024-10-20 03:30"},  // skipped midnight
      {"<-03>3<-02>,M10.3.0/0,M2.3.0/0", 2024, 2, 17, 23, 30, "2024-02-18 01:30"},  // repeated
      {"<+0530>-5:30", 2024, 6, 1, 0, 0, "2024-05-31 18:30"},
      {"UTC0", 2038, 1, 19, 3, 14, "2038-01-19 03:14"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + c.utc);
    ZoneScope zone(c.zone);
    const std::time_t t = platform::FromWallClock(Wall(c.y, c.mo, c.d, c.h, c.mi, 0));
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &utc);
    EXPECT_STREQ(text, c.utc);
  }
}

// Every ten minutes of two years, changes included, the time is the one mktime gives, and shows
// the same wall clock again unless summer time skipped it.
TEST(FromWallClock, AgreesWithMktime) {
  for (const char* tz : {"CET-1CEST,M3.5.0,M10.5.0/3", "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", "UTC0"}) {
    SCOPED_TRACE(tz);
    ZoneScope zone(tz);
    int differ = 0;
    for (std::int64_t wall = Wall(2023, 1, 1, 0, 0, 0); wall < Wall(2025, 1, 1, 0, 0, 0); wall += 600) {
      const std::time_t w = static_cast<std::time_t>(wall);
      std::tm tm{};
      gmtime_r(&w, &tm);
      tm.tm_isdst = -1;
      const std::time_t expected = std::mktime(&tm);
      const std::time_t got = platform::FromWallClock(wall);
      if (got != expected && ++differ <= 3) ADD_FAILURE() << "wall " << wall << ": " << got << " != " << expected;
      if (platform::WallClock(got) == wall) continue;
      // Skipped: read in the offset of the day before.
      const std::time_t dayBefore = w - 86400;
      std::tm before{};
      localtime_r(&dayBefore, &before);
      EXPECT_EQ(got, w - before.tm_gmtoff) << wall;
    }
  }
}
