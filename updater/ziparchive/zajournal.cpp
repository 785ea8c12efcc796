#include "updater/ziparchive/zajournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "updater/ziparchive/zacrc32.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

void (*TZACommitJournal::StepHook)(const char*) = nullptr;

namespace {

constexpr char kMagic[8] = {'Q', 'Z', 'A', 'J', 'R', 'N', 'L', '1'};
constexpr int64_t kHeaderSize = 64;
constexpr int64_t kHeadCheck = 4096;  // bytes in front of the cut whose CRC-32 the header keeps
constexpr size_t kBlock = 1 << 20;

struct Header {
  uint32_t State = 0;  // 0: being written, 1: sealed
  uint64_t Device = 0, Inode = 0;
  int64_t Cut = 0, TailLength = 0;
  uint32_t HeadCrc = 0, HeadLength = 0;
};

void encode(const Header& h, uint8_t* p) {
  std::memset(p, 0, kHeaderSize);
  std::memcpy(p, kMagic, sizeof kMagic);
  PutU32(p + 8, h.State);
  PutU64(p + 16, h.Device);
  PutU64(p + 24, h.Inode);
  PutU64(p + 32, uint64_t(h.Cut));
  PutU64(p + 40, uint64_t(h.TailLength));
  PutU32(p + 48, h.HeadCrc);
  PutU32(p + 52, h.HeadLength);
  PutU32(p + 60, UpdateCrc32Long(0xFFFFFFFFu, p, 60) ^ 0xFFFFFFFFu);
}

enum class Decoded { Foreign, Torn, Ok };

Decoded decode(const uint8_t* p, int64_t length, Header& h) {
  if (length < int64_t(sizeof kMagic) || std::memcmp(p, kMagic, sizeof kMagic) != 0) return Decoded::Foreign;
  if (length < kHeaderSize || GetU32(p + 60) != (UpdateCrc32Long(0xFFFFFFFFu, p, 60) ^ 0xFFFFFFFFu)) return Decoded::Torn;
  h.State = GetU32(p + 8);
  h.Device = GetU64(p + 16);
  h.Inode = GetU64(p + 24);
  h.Cut = int64_t(GetU64(p + 32));
  h.TailLength = int64_t(GetU64(p + 40));
  h.HeadCrc = GetU32(p + 48);
  h.HeadLength = GetU32(p + 52);
  return Decoded::Ok;
}

bool readAll(int fd, void* buffer, int64_t count, int64_t at) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(fd, p, size_t(count), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      return false;
    }
    p += n, at += n, count -= n;
  }
  return true;
}

bool writeAll(int fd, const void* buffer, int64_t count, int64_t at) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, p, size_t(count), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n, at += n, count -= n;
  }
  return true;
}

bool syncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// A write lock on the whole file, for this open file description; false when another holds one.
// A file system without locks (some network mounts) goes without.
bool lockWhole(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  return errno == ENOLCK || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
}

// CRC-32 of the up to kHeadCheck bytes in front of the cut.
bool headCheck(int fd, int64_t cut, uint32_t& crc, uint32_t& length) {
  length = uint32_t(std::min(cut, kHeadCheck));
  std::vector<uint8_t> bytes(length);
  if (!readAll(fd, bytes.data(), length, cut - length)) return false;
  crc = UpdateCrc32Long(0xFFFFFFFFu, bytes.data(), length) ^ 0xFFFFFFFFu;
  return true;
}

EZAException failure(int32_t code, const TZABaseArchiver* owner, const std::string& name, int err) {
  EZAException e = code == 46 ? EZAException::CreateForCode(code, owner)
                              : EZAException::CreateForCodeFmt(code, owner, {name});
  if (code == 46) e.AppendDetail(name);
  if (err != 0) e.AppendDetail(std::strerror(err));
  return e;
}

// The tail's bytes in the journal, after its header.
class TailStream : public TZAStream {
 public:
  explicit TailStream(int fd) : fd_(fd) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::clamp<int64_t>(Size() - position_, 0, std::max<int64_t>(count, 0));
    if (!readAll(fd_, buffer, n, kHeaderSize + position_)) {
      lastError_ = errno;
      return 0;
    }
    position_ += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (count <= 0) return 0;
    if (!writeAll(fd_, buffer, count, kHeaderSize + position_)) {
      lastError_ = errno;
      return 0;
    }
    position_ += count;
    return count;
  }
  int64_t Seek(int64_t offset, TZASeekOrigin origin) override {
    const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
    if (base + offset < 0) throw EZAStreamError("Stream seek error");
    return position_ = base + offset;
  }
  int64_t Size() override {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? std::max<int64_t>(st.st_size - kHeaderSize, 0) : 0;
  }
  void SetSize(int64_t size) override {
    if (::ftruncate(fd_, kHeaderSize + size) != 0) throw EZAStreamError("Stream size error", errno);
  }

 private:
  int fd_;
  int64_t position_ = 0;
};

}  // namespace

std::string TZACommitJournal::NameFor(const std::string& archive) { return archive + ".journal"; }

TZACommitJournal::TZACommitJournal(const std::string& archive, int64_t cut, const TZABaseArchiver* owner)
    : archive_(archive), name_(NameFor(archive)), owner_(owner), cut_(cut) {
  lockFd_ = ::open(archive.c_str(), O_RDWR | O_CLOEXEC);
  if (lockFd_ < 0) throw failure(36, owner, archive, errno);
  struct stat st {};
  if (!lockWhole(lockFd_) || ::fstat(lockFd_, &st) != 0) {
    const int err = errno;
    ::close(lockFd_);
    throw failure(36, owner, archive, err == EAGAIN || err == EACCES ? 0 : err);
  }
  auto fail = [&](int32_t code, int err) {
    if (fd_ >= 0) {
      ::close(fd_);
      ::unlink(name_.c_str());
    }
    ::close(lockFd_);
    fd_ = lockFd_ = -1;
    return failure(code, owner, name_, err);
  };
  fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    const int err = errno;
    // A journal that is there already is another commit's: it is never overwritten.
    if (err == EEXIST) {
      ::close(lockFd_);
      lockFd_ = -1;
      throw failure(36, owner, name_, 0);
    }
    throw fail(19, err);
  }
  Header h;
  h.Device = uint64_t(st.st_dev);
  h.Inode = uint64_t(st.st_ino);
  h.Cut = cut;
  uint8_t raw[kHeaderSize];
  if (!headCheck(lockFd_, cut, h.HeadCrc, h.HeadLength)) throw fail(46, errno);
  encode(h, raw);
  if (!writeAll(fd_, raw, kHeaderSize, 0)) throw fail(19, errno);
  Step("journal");
}

TZACommitJournal::~TZACommitJournal() {
  if (fd_ >= 0) {
    // A journal that never got sealed is no copy of anything.
    if (!sealed_ && !removed_) ::unlink(name_.c_str());
    ::close(fd_);
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

TZAStream* TZACommitJournal::NewTailStream() { return new TailStream(fd_); }

void TZACommitJournal::Seal(int64_t tailLength) {
  Header h;
  uint8_t raw[kHeaderSize];
  if (!readAll(fd_, raw, kHeaderSize, 0) || decode(raw, kHeaderSize, h) != Decoded::Ok) {
    throw failure(46, owner_, name_, errno);
  }
  h.State = 1;
  h.TailLength = tailLength;
  encode(h, raw);
  // The tail is on the disk before the mark, and the mark before the archive is cut.
  if (::fsync(fd_) != 0 || !writeAll(fd_, raw, kHeaderSize, 0) || ::fsync(fd_) != 0 || !syncFolderOf(name_)) {
    throw failure(46, owner_, name_, errno);
  }
  sealed_ = true;
  Step("sealed");
}

bool TZACommitJournal::Remove() {
  if (removed_) return true;
  if (::unlink(name_.c_str()) != 0) {
    // Unsealed, it would be dropped at the next open instead of undoing the commit.
    uint8_t zero[sizeof kMagic + 4] = {};
    std::memcpy(zero, kMagic, sizeof kMagic);
    if (!writeAll(fd_, zero, sizeof zero, 0) || ::fsync(fd_) != 0) return false;
  }
  syncFolderOf(name_);
  removed_ = true;
  sealed_ = false;
  Step("removed");
  return true;
}

void TZACommitJournal::Recover(const std::string& archive, const TZABaseArchiver* owner) {
  const std::string name = NameFor(archive);
  struct stat js {};
  if (::stat(name.c_str(), &js) != 0) return;
  const int afd = ::open(archive.c_str(), O_RDWR | O_CLOEXEC);
  if (afd < 0) return;
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } archiveCloser{afd};
  if (!lockWhole(afd)) return;  // a commit is running
  const int jfd = ::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (jfd < 0) return;
  Closer journalCloser{jfd};
  struct stat as {};
  if (::fstat(jfd, &js) != 0 || !S_ISREG(js.st_mode) || ::fstat(afd, &as) != 0) return;
  uint8_t raw[kHeaderSize] = {};
  const int64_t have = std::min<int64_t>(js.st_size, kHeaderSize);
  if (!readAll(jfd, raw, have, 0)) return;
  Header h;
  const Decoded d = decode(raw, have, h);
  if (d == Decoded::Foreign) return;  // not a journal of this engine: left alone
  // Unsealed or torn: the archive was never cut.
  if (d == Decoded::Torn || h.State != 1) {
    ::unlink(name.c_str());
    syncFolderOf(name);
    return;
  }
  // A sealed journal of other bytes (the archive replaced since) is not applied.
  uint32_t crc = 0, length = 0;
  if (h.Device != uint64_t(as.st_dev) || h.Inode != uint64_t(as.st_ino) || h.Cut < 0 || as.st_size < h.Cut ||
      js.st_size != kHeaderSize + h.TailLength || !headCheck(afd, h.Cut, crc, length) || crc != h.HeadCrc ||
      length != h.HeadLength) {
    return;
  }
  if (::ftruncate(afd, h.Cut) != 0) throw failure(46, owner, archive, errno);
  Step("recover-cut");
  std::vector<uint8_t> block(kBlock);
  for (int64_t done = 0; done < h.TailLength;) {
    const int64_t n = std::min<int64_t>(h.TailLength - done, int64_t(kBlock));
    if (!readAll(jfd, block.data(), n, kHeaderSize + done) || !writeAll(afd, block.data(), n, h.Cut + done)) {
      throw failure(46, owner, archive, errno);
    }
    done += n;
    Step("recover-block");
  }
  if (::fsync(afd) != 0) throw failure(46, owner, archive, errno);
  if (::unlink(name.c_str()) != 0) throw failure(27, owner, name, errno);
  syncFolderOf(name);
  Step("recovered");
}

}  // namespace ziparchive
