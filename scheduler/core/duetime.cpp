#include "scheduler/core/duetime.h"

#include <charconv>

#include "scheduler/core/fields.h"

namespace core {

namespace {

// Plain decimal digits only; anything else is no number.
std::optional<int> Decimal(std::string_view text) {
  int value = 0;
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::int64_t FloorMinutes(std::time_t t) {
  std::int64_t s = static_cast<std::int64_t>(t);
  return s >= 0 ? s / 60 : -((-s + 59) / 60);
}

}  // namespace

bool IntervalDue(int hour, int minute, int intervalHours, int intervalMinutes) {
  if (intervalHours < 0 || intervalMinutes < 0) return false;
  std::int64_t period = std::int64_t{intervalHours} * 60 + intervalMinutes;
  if (period <= 0) return false;
  return (std::int64_t{hour} * 60 + minute) % period == 0;
}

bool LineDue(std::string_view line, const std::tm& now) {
  if (line.find(kUsbMarker) != std::string_view::npos) return false;
  std::string minutes = ExtractField(line, '|', 2);
  std::string hours = ExtractField(line, '|', 3);
  std::string days;
  for (int i = 4; i <= 10; ++i) days += ExtractField(line, '|', i);
  if (days != "0000000") {
    std::string tick = std::to_string(now.tm_min) + "|" + std::to_string(now.tm_hour);
    int weekday = DayOfWeekDigit(now)[0] - '0';
    return tick == minutes + "|" + hours && ExtractField(line, '|', weekday + 3) == "1";
  }
  std::optional<int> h = Decimal(hours);
  std::optional<int> m = Decimal(minutes);
  return h && m && IntervalDue(now.tm_hour, now.tm_min, *h, *m);
}

std::string DueJobLine(std::string_view line) {
  return ExtractField(line, '|', 11) + "|" + ExtractField(line, '|', 13) + "|" + ExtractField(line, '|', 12) +
         "|" + ExtractField(line, '|', 14) + "|" + ExtractField(line, '|', 15);
}

std::vector<std::string> DueJobs(const std::vector<std::string>& lines, const std::tm& now) {
  std::vector<std::string> jobs;
  for (const std::string& line : lines) {
    if (LineDue(line, now)) jobs.push_back(DueJobLine(line));
  }
  return jobs;
}

std::vector<std::time_t> MinuteTracker::MinutesFor(std::time_t now) {
  const std::int64_t current = FloorMinutes(now);
  std::int64_t first = current;
  if (last_) {
    const std::int64_t gap = current - *last_;
    if (gap <= 0 && gap >= -(kMaxCatchUp + 1)) return {};  // already done, or a small step back
    if (gap > 0 && gap <= kMaxCatchUp + 1) first = *last_ + 1;
  }
  last_ = current;
  std::vector<std::time_t> minutes;
  for (std::int64_t m = first; m <= current; ++m) minutes.push_back(static_cast<std::time_t>(m * 60));
  return minutes;
}

bool CoversMidnight(MinuteTracker& tracker, std::time_t now) {
  bool midnight = false;
  for (std::time_t minute : tracker.MinutesFor(now)) {
    const std::tm local = LocalTime(minute);
    midnight = midnight || (local.tm_hour == 0 && local.tm_min == 0);
  }
  return midnight;
}

}  // namespace core
