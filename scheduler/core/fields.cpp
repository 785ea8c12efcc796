#include "scheduler/core/fields.h"

#include <cstdio>

namespace core {

std::string_view FieldView(std::string_view text, char separator, int n, LastField last) {
  if (n < 2) return {};
  std::size_t start = 0;
  for (int k = 2;; ++k) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos)
      return k == n && last == LastField::EndedByText ? text.substr(start) : std::string_view();
    if (k == n) return text.substr(start, end - start);
    start = end + 1;
  }
}

std::string ExtractField(std::string_view text, char separator, int n) {
  return std::string(FieldView(text, separator, n));
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
