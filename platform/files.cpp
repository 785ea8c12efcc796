#include "platform/files.h"

#include <sys/stat.h>

#include <cerrno>

namespace platform {

std::uint64_t FileSize64(const std::string& path) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::int32_t FileSizeOf(const std::string& path) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(FileSize64(path) & 0xffffffffu));
}

bool MakeDirs(const std::string& path, mode_t mode) {
  if (path.empty()) return false;
  struct stat st;
  std::string::size_type pos = 0;
  while (true) {
    pos = path.find('/', pos + 1);
    const std::string part = path.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos || pos + 1 >= path.size()) break;
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
