#include "scheduler/core/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace core {

std::string DataFolderIn(const std::string& appDataFolder) {
  std::string base = appDataFolder;
  if (base.empty() || base[0] != '/') {
    const char* tmp = std::getenv("TMPDIR");
    base = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    base += "/Quillomet-" + std::to_string(getuid());
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  return base + "/Quillomet/";
}

namespace {

// fchmod on an open descriptor: what is changed is what was opened.
void NarrowMode(int fd, mode_t keep) {
  struct stat st;
  if (fd < 0) return;
  if (::fstat(fd, &st) == 0 && (st.st_mode & 07777 & ~keep) != 0) ::fchmod(fd, st.st_mode & keep);
  ::close(fd);
}

}  // namespace

void NarrowDataFolderModes(const std::string& dataFolder) {
  // Without its ending "/", which would make the open follow a link.
  std::string folder = dataFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  for (const char* name : {"reseau.ini", "serie.ini"}) {
    // O_NONBLOCK: a FIFO planted under that name does not hold the start-up.
    int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
    }
    NarrowMode(fd, 0600);
  }
  NarrowMode(dir, 0700);
}

bool IsFirstRun(const std::string& dataFolder) {
  struct stat st;
  return lstat((dataFolder + "serie.ini").c_str(), &st) != 0;
}

std::uint64_t CopyThresholdOf(int megabytes) {
  return static_cast<std::uint64_t>(megabytes < 0 ? 0 : megabytes) * 1048576ull;
}

std::string LanguageNameFrom(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments[1].empty()) return "ENGLISH";
  return arguments[1];
}

}  // namespace core
