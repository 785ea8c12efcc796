#include "scheduler/core/fields.h"

#include <cstdio>

namespace core {

std::string ExtractField(std::string_view text, char separator, int n) {
  if (n < 2) return {};
  int k = 1;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != separator) continue;
    ++k;
    if (k == n) return std::string(text.substr(start, i - start));
    start = i + 1;
  }
  return {};
}

std::string DayOfWeekDigit(const std::tm& t) {
  // tm_wday: 0 = Sunday.
  int iso = t.tm_wday == 0 ? 7 : t.tm_wday;
  return std::string(1, static_cast<char>('0' + iso));
}

std::string TimeText(const std::tm& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string DateStamp(const std::tm& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return buf;
}

std::tm LocalTime(std::time_t t) {
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  const auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
  std::size_t end = max;
  while (end > 0 && max - end < 3 && continuation(end)) --end;
  return continuation(end) ? max : end;
}

}  // namespace core
