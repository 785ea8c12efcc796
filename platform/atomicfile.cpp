#include "platform/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"

namespace platform {

bool WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = saved;
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the new content.
  SyncFolder(folder.string());
  return true;
}

}  // namespace platform
