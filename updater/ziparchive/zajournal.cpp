#include "updater/ziparchive/zajournal.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "updater/ziparchive/zaarchivelock.h"
#include "updater/ziparchive/zacrc32.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

void (*TZACommitJournal::StepHook)(const char*) = nullptr;

namespace {

constexpr char kMagic[8] = {'Q', 'Z', 'A', 'J', 'R', 'N', 'L', '2'};
constexpr int64_t kHeaderSize = TZAJournalHeader::kSize;
constexpr size_t kBlock = 1 << 20;
// The head check: samples spread over the bytes in front of the cut, and their last block;
// a head of up to kSamples * kSample + kLastBlock bytes is taken whole.
constexpr int64_t kSample = 4096, kSamples = 48, kLastBlock = 65536;

// Which file an open descriptor is, and what the checks need of it.
struct Identity {
  uint64_t Device = 0, Inode = 0;
  bool HasBirth = false;
  int64_t BirthSec = 0;
  uint32_t BirthNsec = 0;
  uint32_t Owner = 0;
  int64_t Size = 0;
};

bool identityOf(int fd, Identity& id) {
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  id.Device = uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor));
  id.Inode = sx.stx_ino;
  id.HasBirth = (sx.stx_mask & STATX_BTIME) != 0;
  id.BirthSec = id.HasBirth ? sx.stx_btime.tv_sec : 0;
  id.BirthNsec = id.HasBirth ? sx.stx_btime.tv_nsec : 0;
  id.Owner = sx.stx_uid;
  id.Size = int64_t(sx.stx_size);
  return true;
}

// The name still names the open file (no one put another file there meanwhile).
bool namesFile(const std::string& name, int fd) {
  struct stat byName {}, open {};
  return ::lstat(name.c_str(), &byName) == 0 && ::fstat(fd, &open) == 0 && byName.st_dev == open.st_dev &&
         byName.st_ino == open.st_ino;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// SHA-256 of the cut position and of the head's samples.
bool headHash(int fd, int64_t cut, std::array<uint8_t, 32>& out) {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  uint8_t at[8];
  PutU64(at, uint64_t(cut));
  EVP_DigestUpdate(ctx.get(), at, sizeof at);
  std::vector<uint8_t> block(static_cast<size_t>(kLastBlock));
  auto take = [&](int64_t from, int64_t count) {
    while (count > 0) {
      const int64_t n = std::min<int64_t>(count, kLastBlock);
      if (!platform::ReadAllAt(fd, block.data(), size_t(n), off_t(from))) return false;
      EVP_DigestUpdate(ctx.get(), block.data(), size_t(n));
      from += n, count -= n;
    }
    return true;
  };
  if (cut <= kSamples * kSample + kLastBlock) {
    if (!take(0, cut)) return false;
  } else {
    const int64_t spread = cut - kLastBlock;  // the samples lie in front of the last block
    const int64_t step = (spread - kSample) / (kSamples - 1);
    for (int64_t i = 0; i < kSamples; ++i)
      if (!take(step * i, kSample)) return false;
    if (!take(spread, kLastBlock)) return false;
  }
  unsigned length = 0;
  return EVP_DigestFinal_ex(ctx.get(), out.data(), &length) == 1 && length == out.size();
}

// The file is a whole archive: an end record at its end whose directory ends where the
// record (or its Zip64 end record) starts. A commit cut short never leaves one, the
// finished commit always does.
bool wholeArchive(int fd, int64_t size, uint64_t& dirStart) {
  const int64_t window = std::min<int64_t>(size, 0xFFFF + int64_t(kEndRecordSize));
  if (window < int64_t(kEndRecordSize)) return false;
  std::vector<uint8_t> tail(static_cast<size_t>(window));
  if (!platform::ReadAllAt(fd, tail.data(), tail.size(), off_t(size - window))) return false;
  for (int64_t i = window - int64_t(kEndRecordSize); i >= 0; --i) {
    const uint8_t* p = tail.data() + i;
    if (GetU32(p) != kEndRecordSignature || GetU16(p + 20) != window - i - int64_t(kEndRecordSize)) continue;
    const uint64_t at = uint64_t(size - window + i);
    uint8_t locator[kZip64LocatorSize];
    if (at >= kZip64LocatorSize && platform::ReadAllAt(fd, locator, sizeof locator, off_t(at - kZip64LocatorSize)) &&
        GetU32(locator) == kZip64LocatorSignature) {
      const uint64_t z = GetU64(locator + 8);
      uint8_t record[kZip64EndRecordSize];
      if (z > at - kZip64LocatorSize - kZip64EndRecordSize ||
          !platform::ReadAllAt(fd, record, sizeof record, off_t(z)) || GetU32(record) != kZip64EndRecordSignature)
        return false;
      const uint64_t dirSize = GetU64(record + 40);
      dirStart = GetU64(record + 48);
      return dirStart <= z && z - dirStart == dirSize;
    }
    dirStart = GetU32(p + 16);
    return dirStart + GetU32(p + 12) == at;
  }
  return false;
}

// What a commit writes from the cut on starts with an entry's local header, or with the
// directory (a central header, a Zip64 end record or the end record) when no entry follows.
bool writtenByCommit(int fd, int64_t cut, int64_t size) {
  uint8_t first[4];
  const size_t n = size_t(std::min<int64_t>(size - cut, sizeof first));
  if (n == 0) return true;
  if (!platform::ReadAllAt(fd, first, n, off_t(cut))) return false;
  for (const uint32_t signature : {kLocalHeaderSignature, kCentralHeaderSignature, kZip64EndRecordSignature,
                                   kEndRecordSignature}) {
    uint8_t expected[4];
    PutU32(expected, signature);
    if (std::memcmp(first, expected, n) == 0) return true;
  }
  return false;
}

enum class Verdict {
  Stale,       // not provably this archive's: left alone
  Leftover,    // this archive's, of a commit that never cut it or that finished: may go
  Unfinished,  // the journal of the archive's unfinished commit: puts the old archive back
};

// A file that a commit of this archive's owner (or root) could have made: a plain file of one
// link that no one else may write.
bool mayBeCommitsJournal(const struct stat& js, const Identity& a) {
  return S_ISREG(js.st_mode) && js.st_nlink == 1 && (js.st_uid == a.Owner || js.st_uid == 0) &&
         (js.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Verdict judge(int archive, const Identity& a, int journal, TZAJournalHeader& h) {
  struct stat js {};
  if (::fstat(journal, &js) != 0 || !mayBeCommitsJournal(js, a)) return Verdict::Stale;
  uint8_t raw[kHeaderSize];
  if (js.st_size < kHeaderSize || !platform::ReadAllAt(journal, raw, sizeof raw, 0) || !h.Decode(raw, sizeof raw)) {
    return Verdict::Stale;
  }
  if (h.Device != a.Device || h.Inode != a.Inode || h.HasBirth != a.HasBirth ||
      (h.HasBirth && (h.BirthSec != a.BirthSec || h.BirthNsec != a.BirthNsec))) {
    return Verdict::Stale;
  }
  if (h.State == 0) return Verdict::Leftover;
  // Both lengths are checked apart: no sum of untrusted numbers.
  if (h.State != 1 || h.Cut < 0 || h.Cut > a.Size || h.TailLength < 0 || h.TailLength != js.st_size - kHeaderSize) {
    return Verdict::Stale;
  }
  // Whole: the finished new archive, or another put over it; unless it is the head that a
  // failed restore closed with a directory of its own, still to be undone.
  uint64_t dirStart = 0;
  if (wholeArchive(archive, a.Size, dirStart) && !(h.HeadOnly && dirStart == uint64_t(h.Cut))) {
    return Verdict::Leftover;
  }
  if (!writtenByCommit(archive, h.Cut, a.Size)) return Verdict::Stale;
  std::array<uint8_t, 32> head{};
  if (!headHash(archive, h.Cut, head) || head != h.HeadHash) return Verdict::Stale;
  return Verdict::Unfinished;
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
    if (!platform::ReadAllAt(fd_, buffer, size_t(n), off_t(kHeaderSize + position_))) {
      lastError_ = errno;
      return 0;
    }
    position_ += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (count <= 0) return 0;
    if (!platform::WriteAllAt(fd_, buffer, size_t(count), off_t(kHeaderSize + position_))) {
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

void TZAJournalHeader::Encode(uint8_t* p) const {
  std::memset(p, 0, kSize);
  std::memcpy(p, kMagic, sizeof kMagic);
  PutU32(p + 8, State);
  PutU32(p + 12, HasBirth ? 1 : 0);
  PutU64(p + 16, Device);
  PutU64(p + 24, Inode);
  PutU64(p + 32, uint64_t(BirthSec));
  PutU32(p + 40, BirthNsec);
  PutU64(p + 48, uint64_t(Cut));
  PutU64(p + 56, uint64_t(TailLength));
  std::memcpy(p + 64, HeadHash.data(), HeadHash.size());
  PutU32(p + 96, HeadOnly ? 1 : 0);
  PutU32(p + kSize - 4, UpdateCrc32Long(0xFFFFFFFFu, p, kSize - 4) ^ 0xFFFFFFFFu);
}

bool TZAJournalHeader::Decode(const uint8_t* p, int64_t length) {
  if (length < kSize || std::memcmp(p, kMagic, sizeof kMagic) != 0 ||
      GetU32(p + kSize - 4) != (UpdateCrc32Long(0xFFFFFFFFu, p, kSize - 4) ^ 0xFFFFFFFFu)) {
    return false;
  }
  State = GetU32(p + 8);
  HasBirth = GetU32(p + 12) != 0;
  Device = GetU64(p + 16);
  Inode = GetU64(p + 24);
  BirthSec = int64_t(GetU64(p + 32));
  BirthNsec = GetU32(p + 40);
  Cut = int64_t(GetU64(p + 48));
  TailLength = int64_t(GetU64(p + 56));
  std::memcpy(HeadHash.data(), p + 64, HeadHash.size());
  HeadOnly = GetU32(p + 96) != 0;
  return true;
}

std::string TZACommitJournal::NameFor(const std::string& archive) { return archive + ".journal"; }

TZACommitJournal::TZACommitJournal(std::string name, int fd, const TZAJournalHeader& header,
                                   const TZABaseArchiver* owner)
    : name_(std::move(name)), owner_(owner), fd_(fd), header_(header) {}

std::unique_ptr<TZACommitJournal> TZACommitJournal::Begin(const TZAArchiveLock& archive, int64_t cut,
                                                          const TZABaseArchiver* owner) {
  // Without locks a journal could never be told from a live commit's: none is made.
  if (!archive.Held()) return nullptr;
  const std::string name = NameFor(archive.Archive());
  Identity a;
  if (!identityOf(archive.Fd(), a)) throw failure(46, owner, archive.Archive(), errno);
  // A journal of another user than the archive's owner would be taken for a planted one.
  if (::geteuid() != 0 && ::geteuid() != a.Owner) return nullptr;
  constexpr int kCreate = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(name.c_str(), kCreate, 0600);
  if (fd < 0 && errno == EEXIST) {
    // A link, a FIFO, a folder or a file that cannot be read is left as it is.
    const int old = platform::OpenFileOnly(name, O_RDONLY | O_NOFOLLOW);
    if (old < 0) return nullptr;
    platform::Fd closeOld{old};
    // Only what a commit could have made may be a live commit's (a planted file held open
    // blocks nothing).
    struct stat js {};
    if (::fstat(old, &js) != 0) return nullptr;
    const int locked = mayBeCommitsJournal(js, a) ? TZAArchiveLock::LockWhole(old, F_RDLCK) : 1;
    if (locked == 0) throw failure(36, owner, name, 0).AppendDetail("another commit is writing it");
    if (locked < 0) return nullptr;
    TZAJournalHeader h;
    if (judge(archive.Fd(), a, old, h) == Verdict::Unfinished) {
      throw failure(36, owner, name, 0)
          .AppendDetail("the archive holds an unfinished change: open it again to put the old archive back");
    }
    // Stale, held by no commit: replaced.
    if (!namesFile(name, old) || ::unlink(name.c_str()) != 0) return nullptr;
    fd = ::open(name.c_str(), kCreate, 0600);
  }
  if (fd < 0) {
    const int err = errno;
    if (err == EACCES || err == EPERM || err == EROFS || err == EEXIST || err == ELOOP) return nullptr;
    throw failure(19, owner, name, err);
  }
  auto fail = [&](int32_t code, int err) {
    if (namesFile(name, fd)) ::unlink(name.c_str());
    ::close(fd);
    return failure(code, owner, name, err);
  };
  if (TZAArchiveLock::LockWhole(fd, F_WRLCK) != 1) {
    ::unlink(name.c_str());
    ::close(fd);
    return nullptr;
  }
  TZAJournalHeader h;
  h.Device = a.Device;
  h.Inode = a.Inode;
  h.HasBirth = a.HasBirth;
  h.BirthSec = a.BirthSec;
  h.BirthNsec = a.BirthNsec;
  h.Cut = cut;
  if (!headHash(archive.Fd(), cut, h.HeadHash)) throw fail(46, errno);
  uint8_t raw[kHeaderSize];
  h.Encode(raw);
  if (!platform::WriteAllAt(fd, raw, sizeof raw, 0)) throw fail(19, errno);
  Step("journal");
  return std::unique_ptr<TZACommitJournal>(new TZACommitJournal(name, fd, h, owner));
}

TZACommitJournal::~TZACommitJournal() {
  if (fd_ < 0) return;
  // A journal that never got sealed is no copy of anything.
  if (!sealed_ && !removed_ && namesFile(name_, fd_)) ::unlink(name_.c_str());
  ::close(fd_);
}

TZAStream* TZACommitJournal::NewTailStream() { return new TailStream(fd_); }

void TZACommitJournal::Seal(int64_t tailLength) {
  TZAJournalHeader h = header_;
  h.State = 1;
  h.TailLength = tailLength;
  uint8_t raw[kHeaderSize];
  h.Encode(raw);
  // The tail is on the disk before the mark, and the mark before the archive is cut.
  if (::fsync(fd_) != 0 || !platform::WriteAllAt(fd_, raw, sizeof raw, 0) || ::fsync(fd_) != 0 ||
      !platform::SyncFolderOf(name_)) {
    throw failure(46, owner_, name_, errno);
  }
  header_ = h;
  sealed_ = true;
  Step("sealed");
}

bool TZACommitJournal::MarkHeadOnly() {
  TZAJournalHeader h = header_;
  h.HeadOnly = true;
  uint8_t raw[kHeaderSize];
  h.Encode(raw);
  if (!sealed_ || !platform::WriteAllAt(fd_, raw, sizeof raw, 0) || ::fdatasync(fd_) != 0) return false;
  header_ = h;
  return true;
}

bool TZACommitJournal::Remove() {
  if (removed_) return true;
  // Unsealed first: a journal that a crash brings back then goes at the next open instead of
  // undoing the commit.
  TZAJournalHeader h = header_;
  h.State = 0;
  uint8_t raw[kHeaderSize];
  h.Encode(raw);
  const bool unsealed = platform::WriteAllAt(fd_, raw, sizeof raw, 0) && ::fdatasync(fd_) == 0;
  // A name that holds another file now has nothing of this commit left under it.
  const bool gone = !namesFile(name_, fd_) || (::unlink(name_.c_str()) == 0 && platform::SyncFolderOf(name_));
  if (!unsealed && !gone) return false;
  header_ = h;
  removed_ = true;
  sealed_ = false;
  Step("removed");
  return true;
}

void TZACommitJournal::Recover(const std::string& archive, const TZABaseArchiver* owner) {
  const std::string name = NameFor(archive);
  struct stat seen {};
  if (::lstat(name.c_str(), &seen) != 0) return;  // the usual case: no journal
  bool writable = true;
  int afd = platform::OpenFileOnly(archive, O_RDWR);
  if (afd == -1 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    writable = false;
    afd = platform::OpenFileOnly(archive, O_RDONLY);
  }
  if (afd < 0) return;
  platform::Fd archiveCloser{afd};
  // A commit running, or no locks here: nothing is touched.
  if (TZAArchiveLock::LockWhole(afd, writable ? F_WRLCK : F_RDLCK) != 1) return;
  const int jfd = platform::OpenFileOnly(name, O_RDONLY | O_NOFOLLOW);
  if (jfd < 0) return;
  platform::Fd journalCloser{jfd};
  if (TZAArchiveLock::LockWhole(jfd, F_RDLCK) != 1) return;
  Identity a;
  if (!identityOf(afd, a)) return;
  TZAJournalHeader h;
  const Verdict verdict = judge(afd, a, jfd, h);
  if (verdict == Verdict::Stale) return;
  const bool folderWritable = ::faccessat(AT_FDCWD, folderOf(name).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  if (verdict == Verdict::Leftover) {
    if (folderWritable && namesFile(name, jfd) && ::unlink(name.c_str()) == 0) platform::SyncFolderOf(name);
    return;
  }
  if (!writable || !folderWritable) {
    throw EZAException::CreateForCode(48, owner).AppendDetail(
        "\"" + archive + "\" holds an unfinished change; the old archive, kept in \"" + name +
        "\", is put back at its next open where it can be written");
  }
  if (::ftruncate(afd, h.Cut) != 0) throw failure(46, owner, archive, errno);
  Step("recover-cut");
  std::vector<uint8_t> block(kBlock);
  for (int64_t done = 0; done < h.TailLength;) {
    const int64_t n = std::min<int64_t>(h.TailLength - done, int64_t(kBlock));
    if (!platform::ReadAllAt(jfd, block.data(), size_t(n), off_t(kHeaderSize + done)) ||
        !platform::WriteAllAt(afd, block.data(), size_t(n), off_t(h.Cut + done))) {
      throw failure(46, owner, archive, errno);
    }
    done += n;
    Step("recover-block");
  }
  if (::fsync(afd) != 0) throw failure(46, owner, archive, errno);
  if (namesFile(name, jfd) && ::unlink(name.c_str()) != 0) throw failure(27, owner, name, errno);
  platform::SyncFolderOf(name);
  Step("recovered");
}

}  // namespace ziparchive
