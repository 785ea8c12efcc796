#pragma once
// One running instance per user: an exclusive flock on a lock file, held until the process
// ends. The descriptor is close-on-exec, so programs we start never hold the lock. A lock left
// by a process that died is free again; the file itself stays and is used as it is.
#include <string>

namespace platform {

enum class LockResult {
  Acquired,  // we hold it now
  Busy,      // another process holds it
  Failed,    // no lock file of ours could be opened or locked (a link, FIFO, folder or file of
             // another user in its place); start-up goes on without this guard
};

class InstanceLock {
 public:
  InstanceLock() = default;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  // $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock when there is no runtime folder.
  static std::string PathFor(const std::string& name);

  // Tries the lock of the name: the runtime folder first, then the /tmp fallback when the first
  // cannot be opened.
  LockResult Acquire(const std::string& name);
  // Tries one lock file, never waiting: a link there is not followed, and anything but a
  // regular file of our own user is not used.
  LockResult AcquireFile(const std::string& path);
  void Release();
  bool Held() const { return fd_ >= 0; }
  // The lock file last tried: the one held, or the one another process holds.
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace platform
