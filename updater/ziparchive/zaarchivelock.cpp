#include "updater/ziparchive/zaarchivelock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "updater/ziparchive/zacrc32.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zastreams.h"

namespace ziparchive {

namespace {

constexpr int64_t kEndBytes = 8192;  // the last bytes a snapshot keeps the CRC-32 of

}  // namespace

TZAArchiveSnapshot TZAArchiveSnapshot::Of(int fd) {
  TZAArchiveSnapshot s;
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return s;
  s.Device = uint64_t(st.st_dev);
  s.Inode = uint64_t(st.st_ino);
  s.Size = int64_t(st.st_size);
  s.ModifiedSec = int64_t(st.st_mtim.tv_sec);
  s.ModifiedNsec = int64_t(st.st_mtim.tv_nsec);
  s.ChangedSec = int64_t(st.st_ctim.tv_sec);
  s.ChangedNsec = int64_t(st.st_ctim.tv_nsec);
  uint8_t end[kEndBytes];
  const int64_t n = std::min(s.Size, kEndBytes);
  if (!platform::ReadAllAt(fd, end, size_t(n), off_t(s.Size - n))) return TZAArchiveSnapshot{};
  s.EndCrc = UpdateCrc32Long(0xFFFFFFFFu, end, uint32_t(n)) ^ 0xFFFFFFFFu;
  s.Taken = true;
  return s;
}

TZAArchiveSnapshot TZAArchiveSnapshot::Of(TZAStream* stream) {
  const auto* file = dynamic_cast<const TZAFileStream*>(stream);
  return file != nullptr ? Of(file->Handle()) : TZAArchiveSnapshot{};
}

int TZAArchiveLock::LockWhole(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return 1;
  return errno == EAGAIN || errno == EACCES ? 0 : -1;
}

TZAArchiveLock::TZAArchiveLock(const std::string& archive, TZAArchiveSnapshot& openedAs,
                               const TZABaseArchiver* owner)
    : archive_(archive), openedAs_(openedAs) {
  auto refuse = [&](const std::string& why, int err) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    EZAException e = EZAException::CreateForCodeFmt(36, owner, {archive});
    if (!why.empty()) e.AppendDetail(why);
    if (err != 0) e.AppendDetail(std::strerror(err));
    return e;
  };
  fd_ = platform::OpenFileOnly(archive, O_RDWR);
  if (fd_ < 0) {
    const int err = fd_ == platform::kNotAFile ? EINVAL : errno;
    fd_ = -1;
    throw refuse("", err);
  }
  const int locked = LockWhole(fd_, F_WRLCK);
  if (locked == 0) throw refuse("another commit is writing it", 0);
  held_ = locked == 1;
  // Written or replaced since its directory was read: a commit from that directory would
  // drop what the other writer put there.
  if (openedAs.Taken && !(TZAArchiveSnapshot::Of(fd_) == openedAs)) {
    throw refuse("it changed since it was opened: open it again and redo the change", 0);
  }
}

TZAArchiveLock::~TZAArchiveLock() {
  if (fd_ < 0) return;
  openedAs_ = TZAArchiveSnapshot::Of(fd_);
  ::close(fd_);
}

}  // namespace ziparchive
