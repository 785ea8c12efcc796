#include "platform/singleinstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"

namespace platform {

namespace {

std::string RuntimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (!dir || dir[0] != '/') return "";
  return dir;
}

std::string TmpLockPath(const std::string& name) { return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock"; }

}  // namespace

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::PathFor(const std::string& name) {
  const std::string runtime = RuntimeFolder();
  return runtime.empty() ? TmpLockPath(name) : runtime + "/" + name + ".lock";
}

void InstanceLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

LockResult InstanceLock::AcquireFile(const std::string& path) {
  Release();
  path_ = path;
  // O_NOFOLLOW: in a shared /tmp a planted link must not redirect the lock. A FIFO or a
  // device is never waited on, and a file of another user there is not ours: whoever holds
  // it could keep every start out.
  const int fd = OpenFileOnly(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
  if (fd < 0) return LockResult::Failed;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    close(fd);
    return LockResult::Failed;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? LockResult::Busy : LockResult::Failed;
  }
  fd_ = fd;
  return LockResult::Acquired;
}

LockResult InstanceLock::Acquire(const std::string& name) {
  const std::string runtime = RuntimeFolder();
  if (!runtime.empty()) {
    const LockResult r = AcquireFile(runtime + "/" + name + ".lock");
    if (r != LockResult::Failed) return r;
  }
  return AcquireFile(TmpLockPath(name));
}

}  // namespace platform
