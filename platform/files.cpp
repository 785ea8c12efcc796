#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

int OpenFileOnly(const std::string& path, int flags, mode_t mode, mode_t alsoAccepted) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  const mode_t type = st.st_mode & S_IFMT;
  if (type == S_IFREG || (type != 0 && (alsoAccepted & S_IFMT) == type)) return fd;
  ::close(fd);
  return kNotAFile;
}

}  // namespace platform
