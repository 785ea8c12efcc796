#include "platform/filetimes.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

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
