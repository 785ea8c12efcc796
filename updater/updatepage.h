#pragma once
// The update page's first line and the user's short date format it is written in.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace updater {

// Lines of a body: CR LF is one break, any other CR or LF one break each; a break at the very
// end adds no empty line; each line is cut at its first NUL. An empty body gives one line "0".
std::vector<std::string> LoadMemoFromMemoryStream(const std::string& body);

// A short date format: the order of day, month and year, and the separator between them.
struct ShortDateFormat {
  enum Order { DMY, MDY, YMD } order = DMY;
  char separator = '/';
  bool fourDigitYear = true;

  // From a strftime date format such as nl_langinfo(D_FMT) gives ("%d/%m/%Y", "%m/%d/%y", "%F").
  static ShortDateFormat FromStrftime(const std::string& format);
  // The format of the user's LC_TIME locale.
  static ShortDateFormat User();

  // Day, month and year in the format's order; two numbers take the current year; a two-digit
  // year lies within 50 years of `today`. Surrounding blanks are ignored. Empty when not a date.
  std::optional<std::chrono::year_month_day> Parse(const std::string& text,
                                                   std::chrono::year_month_day today) const;
  std::string Format(std::chrono::year_month_day date) const;
};

// The local calendar date of a time.
std::chrono::year_month_day LocalDate(std::time_t t);

}  // namespace updater
