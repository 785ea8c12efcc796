#pragma once
// Which timetable entries are due at a clock minute, and which clock minutes a tick looks at.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Marks the target of a USB entry; such a line is never due by time.
inline constexpr std::string_view kUsbMarker = ":-Quillomet-";

// True when the minutes since midnight (hour * 60 + minute) are a multiple of the interval.
// An interval of zero or less is never due.
bool IntervalDue(int hour, int minute, int intervalHours, int intervalMinutes);

// Whether one timetable line is due in the clock minute of `now`. Weekly entries compare the
// minute and hour fields as text ("5|9" at 09:05, so "05" never matches) and need the day
// flag of that weekday; interval entries (all seven day flags "0") read hours and minutes as
// decimal numbers and are not due when either is not a number.
bool LineDue(std::string_view line, const std::tm& now);

// The job line a due timetable line queues: source|target|filter|sub|bdd.
std::string DueJobLine(std::string_view line);

// Job lines of every due line, in the order of the lines.
std::vector<std::string> DueJobs(const std::vector<std::string>& lines, const std::tm& now);

// Remembers the last clock minute evaluated so that each minute is looked at once even when
// ticks drift: a tick that finds its minute already done evaluates nothing; a late tick also
// evaluates the minutes it skipped, up to kMaxCatchUp of them. A longer gap (suspend, clock set
// forward) or a clock set far back evaluates only the tick's own minute; a small step back
// evaluates nothing until the clock passes the last minute done.
class MinuteTracker {
 public:
  static constexpr int kMaxCatchUp = 2;

  // The minutes to evaluate for a tick at `now`, oldest first, each as the time of its start.
  std::vector<std::time_t> MinutesFor(std::time_t now);

 private:
  std::optional<std::int64_t> last_;  // minutes since the epoch
};

// Whether a tick at `now` covers the clock minute 00:00, counting the minutes the tracker
// catches up.
bool CoversMidnight(MinuteTracker& tracker, std::time_t now);

}  // namespace core
