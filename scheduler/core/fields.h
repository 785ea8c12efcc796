#pragma once
// Field and time texts shared by the timetable, the job queue, the logs and the network list.
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace core {

// How the end of a text counts: a last field needs its own separator, or the end of the text
// ends it, as for readers that append one separator to a line before splitting it.
enum class LastField { NeedsSeparator, EndedByText };

// The field that the (n-1)-th separator ends, as a view into the text; index 2 is the first
// field. Absent fields give "".
std::string_view FieldView(std::string_view text, char separator, int n,
                           LastField last = LastField::NeedsSeparator);
// FieldView copied: a last field without an ending separator is not a field.
std::string ExtractField(std::string_view text, char separator, int n);

// "1" (Monday) to "7" (Sunday) for a broken-down local time.
std::string DayOfWeekDigit(const std::tm& t);

// "HH:MM:SS", two digits each.
std::string TimeText(const std::tm& t);

// "YYYYMMDD": the year without leading zeros, then month and day on two digits.
std::string DateStamp(const std::tm& t);

// The local broken-down time of a time_t (localtime_r).
std::tm LocalTime(std::time_t t);

// Length of the longest prefix of text, at most max bytes, that does not end inside a UTF-8
// sequence; bytes that are no valid sequence are cut at max.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t max);

}  // namespace core
