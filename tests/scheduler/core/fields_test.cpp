#include "scheduler/core/fields.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

namespace {

struct FieldCase {
  const char* text;
  char sep;
  int n;
  const char* expected;
};

TEST(ExtractField, Table) {
  const FieldCase cases[] = {
      {"30|14|1|", '|', 2, "30"},
      {"30|14|1|", '|', 3, "14"},
      {"30|14|1|", '|', 5, ""},
      {"30|14", '|', 3, ""},              // last field without separator is not a field
      {"a|b|c", '|', 4, ""},
      {"a|b|c|", '|', 4, "c"},
      {"a|b|c|", '|', 1, ""},             // index 1 is never a field
      {"a|b|c|", '|', 0, ""},
      {"a|b|c|", '|', -3, ""},
      {"", '|', 2, ""},
      {"a||c|", '|', 3, ""},              // two separators in a row: an empty field
      {"a||c|", '|', 4, "c"},
      {"E:-Quillomet-KEY - 123", '-', 2, "E:"},
      {"pc\\login\\pass\\", '\\', 3, "login"},
      {"12:00:01;src;dst;", ';', 3, "src"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(core::ExtractField(c.text, c.sep, c.n), c.expected) << c.text << " n=" << c.n;
  }
}

// The end of the text ends a last field only when asked; a field is a view into the text.
TEST(FieldView, LastFieldEndedByTheText) {
  const FieldCase cases[] = {
      {"a|b|c", '|', 4, "c"},
      {"a|b|c|", '|', 4, "c"},
      {"a|b|c|", '|', 5, ""},  // the empty field after the last separator
      {"a|b|c|", '|', 6, ""},
      {"30|14", '|', 3, "14"},
      {"", '|', 2, ""},
      {"abc", '|', 2, "abc"},
      {"abc", '|', 3, ""},
      {"a|b", '|', 1, ""},
      {"a|b", '|', -1, ""},
      {"pc\\login\\pass", '\\', 4, "pass"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(core::FieldView(c.text, c.sep, c.n, core::LastField::EndedByText), c.expected)
        << c.text << " n=" << c.n;
  }
  const std::string_view text = "30|14|1|";
  EXPECT_EQ(core::FieldView(text, '|', 3).data(), text.data() + 3);
}

// Local time with its weekday filled in.
std::tm makeTm(int y, int mo, int d, int h, int mi, int s) {
  std::tm t = testenv::makeTm(y, mo, d, h, mi, s);
  std::mktime(&t);
  return t;
}

TEST(TimeTexts, DigitsAndDays) {
  EXPECT_EQ(core::TimeText(makeTm(2009, 3, 5, 0, 0, 0)), "00:00:00");
  EXPECT_EQ(core::TimeText(makeTm(2009, 3, 5, 9, 5, 7)), "09:05:07");
  EXPECT_EQ(core::DateStamp(makeTm(2009, 3, 5, 12, 0, 0)), "20090305");
  EXPECT_EQ(core::DayOfWeekDigit(makeTm(2026, 12, 13, 12, 0, 0)), "7");  // a Sunday
  EXPECT_EQ(core::DayOfWeekDigit(makeTm(2026, 12, 14, 12, 0, 0)), "1");  // a Monday
}

// A cut never ends inside a character; bytes that are no character are cut where asked.
TEST(Fields, Utf8PrefixEndsOnACharacter) {
  const struct {
    const char* text;
    std::size_t max, length;
  } cases[] = {
      {"abc", 5, 3},                        // shorter than the limit
      {"ab\xC3\xA9", 3, 2},                // "é" would be split
      {"ab\xC3\xA9", 4, 4},                // "é" fits
      {"a\xF0\x9F\x98\x80" "b", 4, 1},   // a 4-byte character would be split
      {"a\x80\x80\x80\x80\x80", 4, 4},   // continuation bytes only: cut at the limit
  };
  for (const auto& c : cases) EXPECT_EQ(core::Utf8PrefixLength(c.text, c.max), c.length) << c.text;
}

}  // namespace
