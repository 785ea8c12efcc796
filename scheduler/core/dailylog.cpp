#include "scheduler/core/dailylog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

#include "platform/errortext.h"
#include "platform/files.h"
#include "scheduler/core/fields.h"

namespace core {

DailyLog::DailyLog(std::string folder, Clock clock) : folder_(std::move(folder)), clock_(std::move(clock)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

std::time_t DailyLog::Now() const { return clock_ ? clock_() : std::time(nullptr); }

std::string DailyLog::TimeNow() const { return TimeText(LocalTime(Now())); }

std::string DailyLog::PathFor(std::time_t when) const { return folder_ + DateStamp(LocalTime(when)) + ".log"; }

void DailyLog::Append(std::string_view line) const {
  const std::string path = PathFor(Now());
  std::string text(line);
  text += '\n';
  const int fd = platform::OpenFileOnly(path, O_WRONLY | O_APPEND | O_CREAT, 0600);
  if (fd < 0) {
    throw std::runtime_error("Impossible d'ouvrir le fichier journal " + path + " : " +
                             (fd == platform::kNotAFile ? "ce n'est pas un fichier" : platform::SystemErrorText(errno)));
  }
  ssize_t n;
  do {
    n = ::write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  int error = n < 0 ? errno : (static_cast<std::size_t>(n) != text.size() ? ENOSPC : 0);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    throw std::runtime_error("Impossible d'écrire dans le fichier journal " + path + " : " + platform::SystemErrorText(error));
  }
}

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return out;
}

const char* YesNo(bool flag) { return flag ? "oui" : "non"; }

std::string RunLogLine(const std::string& t, const std::string& source, const std::string& target,
                       const std::string& filter, bool subfolders) {
  return t + ";" + OneLine(source) + ";" + OneLine(target) + ";" + OneLine(filter) + ";" + YesNo(subfolders) + ";";
}

namespace {
std::string PreflightLine(const std::string& t, const std::string& source, const char* what,
                          const std::string& target) {
  return t + " Erreur;" + OneLine(source) + ";" + what + "  " + OneLine(target) + ";;;";
}
}  // namespace

std::string TargetMissingLogLine(const std::string& t, const std::string& source, const std::string& target) {
  return PreflightLine(t, source, "Cible non présente", target);
}

std::string SourceMissingLogLine(const std::string& t, const std::string& source, const std::string& target) {
  return PreflightLine(t, source, "Source non présente", target);
}

std::string NetworkLogLine(const std::string& t, const std::string& source, const std::string& target) {
  return PreflightLine(t, source, "Ordinateur Réseau non connecté...", target);
}

std::string FileErrorLogLine(const std::string& t, const std::string& source, const std::string& message,
                             const std::string& target) {
  return t + " Erreur F ;" + OneLine(source) + ";" + OneLine(message) + " : " + OneLine(target) + ";;;";
}

std::string LockLogLine(const std::string& t, const std::string& source, const std::string& target) {
  return t + " Erreur F ;" + OneLine(source) +
         ";Le processus ne peut pas accéder au fichier car un autre processus en a verrouillé une partie;" +
         OneLine(target) + ";;;";
}

std::string ExceptionLogLine(const std::string& t, const std::string& message, const std::string& currentFile) {
  return t + " Erreur F ;" + OneLine(message) + ";" + OneLine(currentFile) + ";;;";
}

}  // namespace core
