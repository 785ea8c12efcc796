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

namespace {

// Moves count bytes through step (a read or a write at an offset), whole.
template <class Byte, class Step>
bool transferAll(Byte* p, std::size_t count, off_t offset, int errnoAtZero, Step step) {
  while (count > 0) {
    const ssize_t n = step(p, count, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = errnoAtZero;
      return false;
    }
    p += n;
    offset += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadAll(int fd, void* buffer, std::size_t count) {
  return transferAll(static_cast<char*>(buffer), count, 0, 0,
                     [fd](char* p, std::size_t n, off_t) { return ::read(fd, p, n); });
}

bool ReadAllAt(int fd, void* buffer, std::size_t count, off_t offset) {
  return transferAll(static_cast<char*>(buffer), count, offset, 0,
                     [fd](char* p, std::size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

bool WriteAll(int fd, const void* buffer, std::size_t count) {
  return transferAll(static_cast<const char*>(buffer), count, 0, ENOSPC,
                     [fd](const char* p, std::size_t n, off_t) { return ::write(fd, p, n); });
}

bool WriteAllAt(int fd, const void* buffer, std::size_t count, off_t offset) {
  return transferAll(static_cast<const char*>(buffer), count, offset, ENOSPC,
                     [fd](const char* p, std::size_t n, off_t at) { return ::pwrite(fd, p, n, at); });
}

bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

bool SyncFolderOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return SyncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace platform
