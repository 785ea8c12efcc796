#include "scheduler/core/duetime.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "scheduler/core/fields.h"
#include "scheduler/core/jobline.h"

using core::MinuteTracker;

namespace {

// Local time on the day of the week `weekday` (1 = Monday) of the week of 7 December 2026.
std::tm At(int weekday, int hour, int minute, int second = 0) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7 + (weekday - 1);
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  std::time_t when = std::mktime(&t);
  return core::LocalTime(when);
}

std::time_t TimeAt(int weekday, int hour, int minute, int second = 0) {
  std::tm t = At(weekday, hour, minute, second);
  return std::mktime(&t);
}

// A weekly line with the given day flags (Monday first).
std::string Weekly(const std::string& minutes, const std::string& hours, const std::string& days) {
  std::string line = minutes + "|" + hours + "|";
  for (char d : days) line += std::string(1, d) + "|";
  return line + "/home/u/Docs|*.*|/srv/backup|1|0|";
}

std::string Interval(const std::string& hours, const std::string& minutes) {
  return minutes + "|" + hours + "|0|0|0|0|0|0|0|/home/u/Docs|*.doc|/srv/copie|1|1|";
}

}  // namespace

TEST(DueTime, DecisionTable) {
  const std::string usbTarget = "/media/u/KEY:-Quillomet-KEY - 123";
  const struct {
    const char* name;
    std::string line;
    int weekday, hour, minute;
    bool due;
  } cases[] = {
      {"weekly hit", Weekly("30", "14", "1000000"), 1, 14, 30, true},
      {"weekly a minute early", Weekly("30", "14", "1000000"), 1, 14, 29, false},
      {"weekly a minute late", Weekly("30", "14", "1000000"), 1, 14, 31, false},
      {"weekly other day", Weekly("30", "14", "1000000"), 2, 14, 30, false},
      {"tick text 5|9 at 09:05", Weekly("5", "9", "1111111"), 3, 9, 5, true},
      {"minutes written 05", Weekly("05", "9", "1111111"), 3, 9, 5, false},
      {"hours written 09", Weekly("5", "09", "1111111"), 3, 9, 5, false},
      {"midnight weekly", Weekly("0", "0", "0000001"), 7, 0, 0, true},
      {"interval 15 min at 00:00", Interval("0", "15"), 4, 0, 0, true},
      {"interval 15 min at 23:45", Interval("0", "15"), 4, 23, 45, true},
      {"interval 15 min at 23:59", Interval("0", "15"), 4, 23, 59, false},
      {"interval 1 h at 13:00", Interval("1", "0"), 4, 13, 0, true},
      {"interval 1 h at 13:30", Interval("1", "0"), 4, 13, 30, false},
      {"interval 7 min at 23:55", Interval("0", "7"), 5, 23, 55, true},
      {"interval 7 min at 23:59", Interval("0", "7"), 5, 23, 59, false},
      {"interval 23 h 59 at 23:59", Interval("23", "59"), 6, 23, 59, true},
      {"interval 23 h 59 at 12:00", Interval("23", "59"), 6, 12, 0, false},
      {"interval read as numbers", Interval("0", "05"), 6, 0, 10, true},
      {"interval 0 h 0 min at 00:00", Interval("0", "0"), 1, 0, 0, false},
      {"interval 0 h 0 min at 00:01", Interval("0", "0"), 1, 0, 1, false},
      {"non-numeric minutes", Interval("0", "x"), 1, 0, 0, false},
      {"non-numeric hours", Interval("1a", "0"), 1, 0, 0, false},
      {"negative minutes", Interval("1", "-30"), 1, 0, 30, false},
      {"blank before minutes", Interval("0", " 5"), 1, 0, 5, false},
      {"huge interval", Interval("99999999999", "0"), 1, 0, 0, false},
      {"USB weekly line", "1|0|1|1|1|1|1|1|1|/home/u|*.*|" + usbTarget + "|1|0|", 1, 0, 1, false},
      {"USB interval line", "1|0|0|0|0|0|0|0|0|/home/u|*.*|" + usbTarget + "|1|0|", 1, 0, 1, false},
      {"short line missing the last fields", "30|14|1|0|0|0|0|0|0|/home/u|", 1, 14, 30, true},
      {"line of time fields only", "30|14|", 1, 14, 30, false},
      {"empty first line", "", 1, 0, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(core::LineDue(c.line, At(c.weekday, c.hour, c.minute, 30)), c.due) << c.name;
  }
  // Every day flag, alone, is due on its own day only.
  for (int day = 1; day <= 7; ++day) {
    std::string days = "0000000";
    days[day - 1] = '1';
    for (int other = 1; other <= 7; ++other) {
      EXPECT_EQ(core::LineDue(Weekly("0", "12", days), At(other, 12, 0)), other == day) << days << " on " << other;
    }
  }
}

TEST(DueTime, IntervalFiringsPerDay) {
  const struct {
    int hours, minutes, perDay, last;  // last firing, minutes after midnight
  } cases[] = {
      {0, 15, 96, 23 * 60 + 45}, {1, 0, 24, 23 * 60}, {0, 7, 206, 23 * 60 + 55},
      {23, 59, 2, 23 * 60 + 59}, {0, 1, 1440, 1439},  {24, 0, 1, 0},
  };
  for (const auto& c : cases) {
    int count = 0, last = -1;
    for (int m = 0; m < 1440; ++m) {
      if (core::IntervalDue(m / 60, m % 60, c.hours, c.minutes)) {
        ++count;
        last = m;
      }
    }
    EXPECT_EQ(count, c.perDay) << c.hours << "h" << c.minutes;
    EXPECT_EQ(last, c.last) << c.hours << "h" << c.minutes;
    EXPECT_TRUE(core::IntervalDue(0, 0, c.hours, c.minutes));
  }
  EXPECT_FALSE(core::IntervalDue(0, 0, 0, 0));
  EXPECT_FALSE(core::IntervalDue(5, 0, -1, 0));
}

TEST(DueTime, JobsInLineOrderWithTheDueShape) {
  std::vector<std::string> lines = {
      "",
      "30|14|1|0|0|0|0|0|0|/home/u/A|*.txt|/srv/a|1|0|",
      "30|14|0|1|0|0|0|0|0|/home/u/B|*.*|/srv/b|0|1|",  // Tuesday only
      "15|0|0|0|0|0|0|0|0|/home/u/C|*.doc;*.odt|/srv/c|0|1|",
      "0|0|0|0|0|0|0|0|0|/home/u/D|*.*|/srv/d|1|1|",  // 0 h 0 min: skipped, the rest goes on
  };
  EXPECT_EQ(core::DueJobs(lines, At(1, 14, 30)),
            (std::vector<std::string>{"/home/u/A|/srv/a|*.txt|1|0", "/home/u/C|/srv/c|*.doc;*.odt|0|1"}));
  EXPECT_TRUE(core::DueJobs(lines, At(1, 14, 31)).empty());
  // The short line's job reads back with its missing fields empty or off.
  core::Job shortJob = core::ReadJobLine(core::DueJobLine("30|14|1|0|0|0|0|0|0|/home/u|"));
  EXPECT_EQ(shortJob.source, "/home/u");
  EXPECT_EQ(shortJob.target, "");
  EXPECT_FALSE(shortJob.overwrite);
}

TEST(MinuteTracker, EvaluatesEachMinuteOnceAndCatchesUpALittle) {
  const std::time_t t0 = TimeAt(3, 10, 0);
  auto minutes = [&](std::vector<int> offsets) {
    std::vector<std::time_t> out;
    for (int o : offsets) out.push_back(t0 + 60 * o);
    return out;
  };
  const struct {
    const char* name;
    std::vector<int> tickSeconds;         // tick times, seconds after 10:00:00
    std::vector<std::vector<int>> evals;  // minutes evaluated by each tick, minutes after 10:00
  } cases[] = {
      {"steady ticks", {5, 65, 125}, {{0}, {1}, {2}}},
      {"two ticks in one minute", {1, 59, 61}, {{0}, {}, {1}}},
      {"late tick skips a minute", {58, 121}, {{0}, {1, 2}}},
      {"busy thread skips two minutes", {10, 190}, {{0}, {1, 2, 3}}},
      {"longer gap: suspend or clock set forward", {10, 250}, {{0}, {4}}},
      {"clock set hours forward", {10, 3 * 3600 + 10, 3 * 3600 + 70}, {{0}, {180}, {181}}},
      {"small step back waits for the clock", {130, 70, 125, 190}, {{2}, {}, {}, {3}}},
      {"clock set far back starts again", {3600, 60, 120}, {{60}, {1}, {2}}},
  };
  for (const auto& c : cases) {
    MinuteTracker tracker;
    ASSERT_EQ(c.tickSeconds.size(), c.evals.size()) << c.name;
    for (size_t i = 0; i < c.tickSeconds.size(); ++i) {
      EXPECT_EQ(tracker.MinutesFor(t0 + c.tickSeconds[i]), minutes(c.evals[i])) << c.name << ", tick " << i;
    }
  }
}

// 24 hours of ticks 60 s apart plus random delays of up to 5 s: every minute is evaluated
// exactly once, so each due job is queued exactly once in its minute.
TEST(MinuteTracker, DayOfDelayedTicksQueuesEveryDueJobOnce) {
  const std::vector<std::string> lines = {
      "",
      Interval("0", "1"),                      // every minute
      Interval("0", "15"),                     // 96 a day
      Weekly("30", "14", "0010000"),           // Wednesday 14:30
      Weekly("59", "23", "0010000"),           // Wednesday 23:59
  };
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> delay(0.0, 5.0);
  for (bool drifting : {true, false}) {
    MinuteTracker tracker;
    // Fixed-schedule ticks start near the end of a minute, so their delays push some of them
    // over the boundary: one minute gets two ticks, the next none.
    const double start = static_cast<double>(TimeAt(3, 0, 0)) + (drifting ? 0.0 : 57.0) + delay(random);
    const std::time_t dayEnd = TimeAt(4, 0, 0);
    std::map<std::time_t, int> everyMinute;  // minute -> jobs of the every-minute line
    int quarter = 0, weekly1430 = 0, weekly2359 = 0;
    double scheduled = start;
    // Ticks go on into the next day, so that a skipped 23:59 is caught up there.
    for (double tick = start; tick < static_cast<double>(dayEnd) + 70.0;) {
      for (std::time_t minute : tracker.MinutesFor(static_cast<std::time_t>(tick))) {
        if (minute >= dayEnd) continue;
        std::tm local = core::LocalTime(minute);
        everyMinute[minute] += core::LineDue(lines[1], local);
        quarter += core::LineDue(lines[2], local);
        weekly1430 += core::LineDue(lines[3], local);
        weekly2359 += core::LineDue(lines[4], local);
      }
      // Drifting: each tick comes 60 s after the previous one plus its delay (the delays add
      // up and skip minutes); otherwise ticks keep their 60 s schedule and only come late.
      scheduled += 60.0;
      tick = drifting ? tick + 60.0 + delay(random) : scheduled + delay(random);
    }
    ASSERT_EQ(everyMinute.size(), 1440u) << "drifting " << drifting;
    for (const auto& [minute, count] : everyMinute) EXPECT_EQ(count, 1) << "minute " << minute;
    EXPECT_EQ(quarter, 96) << "drifting " << drifting;
    EXPECT_EQ(weekly1430, 1) << "drifting " << drifting;
    EXPECT_EQ(weekly2359, 1) << "drifting " << drifting;
  }
}

TEST(MinuteTracker, MidnightClearingOncePerNight) {
  const struct {
    const char* name;
    std::vector<std::time_t> ticks;
    std::vector<bool> midnight;
  } cases[] = {
      {"tick in 00:00", {TimeAt(3, 23, 59, 30), TimeAt(4, 0, 0, 30), TimeAt(4, 0, 1, 30)}, {false, true, false}},
      {"two ticks in 00:00", {TimeAt(3, 23, 59, 1), TimeAt(4, 0, 0, 1), TimeAt(4, 0, 0, 59)}, {false, true, false}},
      {"late tick skips 00:00", {TimeAt(3, 23, 59, 58), TimeAt(4, 0, 1, 3)}, {false, true}},
      {"first tick after 00:00", {TimeAt(4, 0, 1, 0)}, {false}},
  };
  for (const auto& c : cases) {
    MinuteTracker tracker;
    for (size_t i = 0; i < c.ticks.size(); ++i) {
      EXPECT_EQ(core::CoversMidnight(tracker, c.ticks[i]), c.midnight[i]) << c.name << ", tick " << i;
    }
  }
}
