#include "platform/filetimes.h"

namespace platform {

std::optional<std::uint32_t> DosDateTime(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return std::nullopt;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return std::nullopt;
  std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  // A leap second (60) still fits the 2-second field as 30, which is out of range: clamp it.
  int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  std::uint32_t time = static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (sec / 2));
  return (date << 16) | time;
}

std::optional<std::int64_t> DosToWallClock(std::uint32_t dos) {
  std::uint32_t date = dos >> 16, time = dos & 0xFFFF;
  int year = 1980 + static_cast<int>(date >> 9), month = (date >> 5) & 15, day = date & 31;
  int hour = time >> 11, minute = (time >> 5) & 63, sec = (time & 31) * 2;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || sec > 59)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = sec;
  return static_cast<std::int64_t>(timegm(&tm));
}

std::int64_t WallClock(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<std::int64_t>(timegm(&tm));
}

namespace {

long OffsetAt(std::time_t t) {
  std::tm tm{};
  return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
}

}  // namespace

std::time_t FromWallClock(std::int64_t wall) {
  // The offsets a day before and a day after: the wall time lies in one of them.
  const std::time_t w = static_cast<std::time_t>(wall);
  const long before = OffsetAt(w - 86400), after = OffsetAt(w + 86400);
  const std::time_t early = w - before, late = w - after;
  if (OffsetAt(early) == before) return early;
  if (OffsetAt(late) == after) return late;
  return early;
}

}  // namespace platform
