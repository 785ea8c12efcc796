#pragma once
// The timetable file "quillo-vz.dat": an empty first line, then one ScheduleLine per line.
// Lines are written with LF; CRLF lines are read as well. A new entry is appended; after a
// deletion the whole file is replaced atomically, so a failed save keeps the old file.
#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr const char* kScheduleFileName = "quillo-vz.dat";

// One timetable entry: 14 text fields, each ended by "|" in the file.
struct ScheduleLine {
  std::string minutes;  // 0..59, no leading zero
  std::string hours;    // 0..23, no leading zero
  std::array<std::string, 7> days;  // Monday to Sunday, "1" or "0"
  std::string source;
  std::string filter;
  std::string target;
  std::string subFolders;  // "1" or "0"
  std::string overwrite;   // "1" or "0" (Bdd)

  // The fields of a line as its readers take them; a short line leaves the missing fields
  // empty (the last one is read even when its ending "|" is missing).
  static ScheduleLine Parse(std::string_view line);
  // The 14 fields, each followed by "|".
  std::string Text() const;
};

// Row caption of a line index: zero-padded to three digits.
std::string ScheduleCaption(std::size_t index);
// Whether a line gets a row in the schedule list: every line but an empty one.
inline bool HasScheduleRow(std::string_view line) { return !line.empty(); }
// One column of the row of line `index`: 0 the caption, 1 "hh:mm", 2 source, 3 target,
// 4 filter, 5 sub-folders and 6 overwrite ("oui" / "non"). Made without copying the line: the
// path and filter columns are views into `line`, the other columns are made in `scratch`.
// Empty for a column out of range.
inline constexpr int kScheduleRowColumns = 7;
std::string_view ScheduleRowText(std::size_t index, std::string_view line, int column, std::string& scratch);

// Order of the schedule list's sort: texts compared without regard to ASCII letter case
// (so "N°" 1000 sorts before 101, and "Heures" is chronological).
int CompareText(std::string_view a, std::string_view b);

struct ScheduleLoad {
  std::vector<std::string> lines;  // every line, line 0 included
  bool created = false;            // the file was missing and has been created
  bool ok = true;                  // false when the file could not be read (errorText says why)
  std::string errorText;
};

// Reads the file; a missing file is created with its empty first line.
ScheduleLoad LoadScheduleFile(const std::filesystem::path& path);

// Creates (or replaces) the file with one empty line.
bool CreateScheduleFile(const std::filesystem::path& path, std::string* errorText = nullptr);
// Appends one line. A last line without a line break gets one first; a failed write is undone.
bool AppendLine(const std::filesystem::path& path, std::string_view line, std::string* errorText = nullptr);
bool AppendScheduleLine(const std::filesystem::path& path, const ScheduleLine& entry,
                        std::string* errorText = nullptr);
// Replaces the file with the given lines (nothing is written for an empty list). On failure
// the old file stays as it was.
bool SaveScheduleFile(const std::filesystem::path& path, const std::vector<std::string>& lines,
                      std::string* errorText = nullptr);

// Removes line `index` from the lines. Line 0 stays as the file's first line but is emptied,
// so an entry written there is removed too. False when the index names no line.
bool DeleteScheduleLine(std::vector<std::string>& lines, std::size_t index);

}  // namespace core
