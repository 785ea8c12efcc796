#pragma once
// The daily log: one ";"-separated line per event in DataFolder/YYYYMMDD.log, and the texts
// of every kind of line.
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace core {

// Appends lines to the log of the day each line is written on; every call opens the file,
// writes the line with one write() on an O_APPEND descriptor and closes it. Throws
// std::runtime_error (French text) when the file cannot be opened or written.
class DailyLog {
 public:
  using Clock = std::function<std::time_t()>;
  explicit DailyLog(std::string folder, Clock clock = {});

  void Append(std::string_view line) const;
  std::string PathFor(std::time_t when) const;
  const std::string& Folder() const { return folder_; }
  std::time_t Now() const;
  // "HH:MM:SS" of the current time, as every line and history row starts.
  std::string TimeNow() const;

 private:
  std::string folder_;
  Clock clock_;
};

// Line breaks inside a piece (file names may hold them) become spaces: one event, one line.
std::string OneLine(std::string_view text);

const char* YesNo(bool flag);  // "oui" / "non"

// The line texts; t is the time text ("HH:MM:SS").
std::string RunLogLine(const std::string& t, const std::string& source, const std::string& target,
                       const std::string& filter, bool subfolders);
std::string TargetMissingLogLine(const std::string& t, const std::string& source, const std::string& target);
std::string SourceMissingLogLine(const std::string& t, const std::string& source, const std::string& target);
std::string NetworkLogLine(const std::string& t, const std::string& source, const std::string& target);
std::string FileErrorLogLine(const std::string& t, const std::string& source, const std::string& message,
                             const std::string& target);
std::string LockLogLine(const std::string& t, const std::string& source, const std::string& target);
std::string ExceptionLogLine(const std::string& t, const std::string& message, const std::string& currentFile);

}  // namespace core
