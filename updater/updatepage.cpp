#include "updater/updatepage.h"

#include <langinfo.h>

#include <cstdio>
#include <ctime>

namespace updater {

using namespace std::chrono;

std::vector<std::string> LoadMemoFromMemoryStream(const std::string& body) {
  std::vector<std::string> lines;
  if (body.empty()) return {"0"};
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find_first_of("\r\n", start);
    if (end == std::string::npos) end = body.size();
    std::string line = body.substr(start, end - start);
    const auto nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    lines.push_back(std::move(line));
    start = end + (end + 1 < body.size() && body[end] == '\r' && body[end + 1] == '\n' ? 2 : 1);
  }
  return lines;
}

ShortDateFormat ShortDateFormat::FromStrftime(const std::string& format) {
  std::string f;
  // Expand the composite conversions first.
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'D') {
      f += "%m/%d/%y";
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'F') {
      f += "%Y-%m-%d";
      ++i;
    } else {
      f += format[i];
    }
  }
  ShortDateFormat r;
  std::string fields;
  bool haveSeparator = false;
  for (size_t i = 0; i + 1 < f.size(); ++i) {
    if (f[i] != '%') continue;
    size_t c = i + 1;
    while (c < f.size() && (f[c] == 'E' || f[c] == 'O' || f[c] == '-' || f[c] == '_' || f[c] == '0')) ++c;
    if (c >= f.size()) break;
    const char k = f[c];
    if (k == 'd' || k == 'e') fields += 'd';
    if (k == 'm') fields += 'm';
    if (k == 'y' || k == 'Y') {
      fields += 'y';
      r.fourDigitYear = k == 'Y';
    }
    if (!haveSeparator && fields.size() == 1 && c + 1 < f.size() && f[c + 1] != '%') {
      r.separator = f[c + 1];
      haveSeparator = true;
    }
    i = c;
  }
  if (fields == "mdy") r.order = MDY;
  else if (fields == "ymd") r.order = YMD;
  else r.order = DMY;
  return r;
}

ShortDateFormat ShortDateFormat::User() {
  const char* f = nl_langinfo(D_FMT);
  return FromStrftime(f && *f ? f : "%d/%m/%Y");
}

std::optional<year_month_day> ShortDateFormat::Parse(const std::string& text, year_month_day today) const {
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  int numbers[3] = {};
  int digits[3] = {};
  int count = 0;
  skipBlanks();
  while (count < 3) {
    const size_t from = i;
    long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - from < 4) v = v * 10 + (text[i++] - '0');
    if (i == from) return std::nullopt;
    numbers[count] = int(v);
    digits[count] = int(i - from);
    ++count;
    skipBlanks();
    if (i < text.size() && text[i] == separator) {
      ++i;
      skipBlanks();
      continue;
    }
    break;
  }
  skipBlanks();
  if (i != text.size() || count < 2) return std::nullopt;

  int d = 0, m = 0, y = int(today.year()), yDigits = 4;
  const int yi = order == YMD ? 0 : 2;
  if (count == 3) {
    y = numbers[yi];
    yDigits = digits[yi];
  }
  const int first = count == 3 && order == YMD ? 1 : 0;
  if (order == MDY) {
    m = numbers[first];
    d = numbers[first + 1];
  } else if (order == YMD) {
    m = numbers[first];
    d = numbers[first + 1];
  } else {
    d = numbers[first];
    m = numbers[first + 1];
  }
  if (yDigits <= 2) {
    // The century that puts the year within 50 years of today.
    const int now = int(today.year());
    int candidate = now / 100 * 100 + y;
    if (candidate > now + 50) candidate -= 100;
    else if (candidate <= now - 50) candidate += 100;
    y = candidate;
  }
  const year_month_day date{year{y}, month{unsigned(m)}, day{unsigned(d)}};
  if (!date.ok()) return std::nullopt;
  return date;
}

std::string ShortDateFormat::Format(year_month_day date) const {
  char y[8], m[4], d[4];
  const int yy = int(date.year());
  std::snprintf(y, sizeof y, fourDigitYear ? "%04d" : "%02d", fourDigitYear ? yy : ((yy % 100) + 100) % 100);
  std::snprintf(m, sizeof m, "%02u", unsigned(date.month()));
  std::snprintf(d, sizeof d, "%02u", unsigned(date.day()));
  const std::string s(1, separator);
  switch (order) {
    case MDY: return m + s + d + s + y;
    case YMD: return y + s + m + s + d;
    case DMY: break;
  }
  return d + s + m + s + y;
}

year_month_day LocalDate(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return year_month_day{year{tm.tm_year + 1900}, month{unsigned(tm.tm_mon + 1)}, day{unsigned(tm.tm_mday)}};
}

}  // namespace updater
