#pragma once
// What a commit holds while it writes an archive file: a write lock on it (an open file
// description lock, so that two commits, in one process or two, never write at once), and the
// proof that the archive is still the one whose directory was read at the open.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace ziparchive {

class TZABaseArchiver;
class TZAStream;

// The archive file as it stood: which file, its size and times, and a CRC-32 of its last
// bytes (the end of its directory and the end record).
struct TZAArchiveSnapshot {
  bool Taken = false;
  uint64_t Device = 0, Inode = 0;
  int64_t Size = 0;
  int64_t ModifiedSec = 0, ModifiedNsec = 0, ChangedSec = 0, ChangedNsec = 0;
  uint32_t EndCrc = 0;

  // Not taken for a stream that is no file, or when the file cannot be read.
  static TZAArchiveSnapshot Of(int fd);
  static TZAArchiveSnapshot Of(TZAStream* stream);
  bool operator==(const TZAArchiveSnapshot&) const = default;
};

class TZAArchiveLock {
 public:
  // Opens the archive and locks it. Code 36 when another commit holds it, or when it is no
  // longer the file read at the open (openedAs): written to, or replaced, since. A file system
  // without locks goes without (Held() false).
  TZAArchiveLock(const std::string& archive, TZAArchiveSnapshot& openedAs, const TZABaseArchiver* owner);
  // The archive as the commit leaves it becomes openedAs; then the lock goes.
  ~TZAArchiveLock();
  TZAArchiveLock(const TZAArchiveLock&) = delete;
  TZAArchiveLock& operator=(const TZAArchiveLock&) = delete;

  const std::string& Archive() const { return archive_; }
  int Fd() const { return fd_; }
  bool Held() const { return held_; }

  // Takes a lock of the type (F_RDLCK or F_WRLCK) on the whole file for this open file
  // description. 1: taken; 0: another holds one; -1: the file system has no locks (errno).
  static int LockWhole(int fd, short type);

 private:
  std::string archive_;
  TZAArchiveSnapshot& openedAs_;
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace ziparchive
