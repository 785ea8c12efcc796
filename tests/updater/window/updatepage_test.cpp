#include "updater/updatepage.h"

#include <gtest/gtest.h>

using namespace updater;
using namespace std::chrono;

TEST(UpdatePage, LinesOfTheBody) {
  using L = std::vector<std::string>;
  struct Case {
    std::string body;
    L lines;
  } cases[] = {
      {"", {"0"}},
      {"0\n", {"0"}},
      {"12/03/2024", {"12/03/2024"}},
      {"12/03/2024\r\nnotes\r\n", {"12/03/2024", "notes"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {std::string("12/03/2024\0junk\nx", 17), {"12/03/2024", "x"}},
  };
  for (const auto& c : cases) EXPECT_EQ(LoadMemoFromMemoryStream(c.body), c.lines) << c.body;
}

TEST(UpdatePage, ShortDateFormatOfTheLocale) {
  struct Case {
    const char* strftime;
    ShortDateFormat::Order order;
    char separator;
    bool fourDigits;
  } cases[] = {
      {"%d/%m/%Y", ShortDateFormat::DMY, '/', true},   // fr_FR
      {"%m/%d/%Y", ShortDateFormat::MDY, '/', true},   // en_US
      {"%m/%d/%y", ShortDateFormat::MDY, '/', false},  // C
      {"%d.%m.%Y", ShortDateFormat::DMY, '.', true},   // de_DE
      {"%F", ShortDateFormat::YMD, '-', true},
      {"%D", ShortDateFormat::MDY, '/', false},
      {"%e/%m/%y", ShortDateFormat::DMY, '/', false},
  };
  for (const auto& c : cases) {
    const auto f = ShortDateFormat::FromStrftime(c.strftime);
    EXPECT_EQ(f.order, c.order) << c.strftime;
    EXPECT_EQ(f.separator, c.separator) << c.strftime;
    EXPECT_EQ(f.fourDigitYear, c.fourDigits) << c.strftime;
  }
}

TEST(UpdatePage, DatesReadInTheUserFormat) {
  const year_month_day today{year{2026}, month{12}, day{10}};
  const auto dmy = ShortDateFormat::FromStrftime("%d/%m/%Y");
  const auto mdy = ShortDateFormat::FromStrftime("%m/%d/%Y");
  const auto ymd = ShortDateFormat::FromStrftime("%Y-%m-%d");
  struct Case {
    const ShortDateFormat& f;
    const char* text;
    std::optional<year_month_day> date;
  } cases[] = {
      {dmy, "12/03/2024", year_month_day{year{2024}, month{3}, day{12}}},
      {dmy, " 1/3/2024 ", year_month_day{year{2024}, month{3}, day{1}}},
      {dmy, "12/03/24", year_month_day{year{2024}, month{3}, day{12}}},
      {dmy, "12/03/76", year_month_day{year{2076}, month{3}, day{12}}},
      {dmy, "12/03/77", year_month_day{year{1977}, month{3}, day{12}}},
      {dmy, "12/03", year_month_day{year{2026}, month{3}, day{12}}},
      {mdy, "03/12/2024", year_month_day{year{2024}, month{3}, day{12}}},
      {ymd, "2024-03-12", year_month_day{year{2024}, month{3}, day{12}}},
      {dmy, "31/02/2024", std::nullopt},
      {dmy, "12-03-2024", std::nullopt},
      {dmy, "12/03/2024 10:00", std::nullopt},
      {dmy, "<html>", std::nullopt},
      {dmy, "", std::nullopt},
      {dmy, "12", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(c.f.Parse(c.text, today), c.date) << c.text;
  EXPECT_EQ(dmy.Format(year_month_day{year{2024}, month{3}, day{2}}), "02/03/2024");
  EXPECT_EQ(ShortDateFormat::FromStrftime("%D").Format(year_month_day{year{2024}, month{3}, day{2}}), "03/02/24");
}
