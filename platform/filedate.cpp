#include "platform/filedate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/filetimes.h"

namespace platform {

namespace {
constexpr std::int64_t kSeconds1601To1970 = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;
}  // namespace

std::optional<std::uint64_t> DateTimeToUtcFileTime(const std::tm& local) {
  std::tm tm = local;
  tm.tm_isdst = -1;
  const std::time_t t = mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  const auto dos = DosDateTime(t);
  if (!dos) return std::nullopt;
  const auto wall = DosToWallClock(*dos);
  if (!wall) return std::nullopt;
  // The DOS value is local wall-clock time: back to UTC through the local zone.
  const std::time_t w = static_cast<std::time_t>(*wall);
  std::tm step{};
  gmtime_r(&w, &step);
  step.tm_isdst = -1;
  const std::time_t utc = mktime(&step);
  return static_cast<std::uint64_t>((static_cast<std::int64_t>(utc) + kSeconds1601To1970) * kTicksPerSecond);
}

std::int64_t FileTimeToUnix(std::uint64_t fileTime) {
  return static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSeconds1601To1970;
}

void datedu(const std::string& path, const std::tm& local) {
  const auto ft = DateTimeToUtcFileTime(local);
  if (!ft) return;
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(FileTimeToUnix(*ft));
  times[0].tv_nsec = 0;
  times[1] = times[0];
  futimens(fd, times);
  close(fd);
}

}  // namespace platform
