#include "updater/ziparchive/zastreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ziparchive {

namespace {

std::string withErrno(const std::string& text, int errnum) {
  return errnum != 0 ? text + ": " + std::strerror(errnum) : text;
}

}  // namespace

int64_t TZAStream::Size() {
  int64_t here = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(here, soBeginning);
  return end;
}

void TZAStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EZAStreamError(withErrno("Stream read error", lastError_), lastError_);
}

void TZAStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EZAStreamError(withErrno("Stream write error", lastError_), lastError_);
}

int64_t TZAStream::CopyFrom(TZAStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kChunk = 1 << 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kChunk)));
  int64_t done = 0;
  while (done < count) {
    int64_t n = std::min(count - done, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    done += n;
  }
  return done;
}

TZAFileStream::TZAFileStream(const std::string& fileName, uint16_t mode, unsigned permissions)
    : fileName_(fileName) {
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  do {
    fd_ = ::open(fileName.c_str(), flags, static_cast<mode_t>(permissions));
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    int err = errno;
    throw EZAStreamError(withErrno((mode == fmCreate ? "Cannot create file \"" : "Cannot open file \"") + fileName + "\"", err), err);
  }
  struct stat st {};
  const bool known = ::fstat(fd_, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EZAStreamError(withErrno("Cannot open file \"" + fileName + "\"", EISDIR), EISDIR);
  }
  // Devices and pipes keep the descriptor's offset, and so their seek errors.
  if (known && S_ISREG(st.st_mode)) {
    position_ = 0;
    readAhead_ = mode != fmCreate && (mode & 0x3) == fmOpenRead;
  }
}

TZAFileStream::TZAFileStream(int fd, bool ownsHandle, const std::string& fileName)
    : fd_(fd), owns_(ownsHandle), fileName_(fileName) {}

TZAFileStream::~TZAFileStream() {
  if (owns_ && fd_ >= 0) ::close(fd_);
}

namespace {

// Moves count bytes with one transfer call after another, retrying on EINTR; stops at the end or an error.
template <class Buffer, class Transfer>
int64_t transferAll(Buffer* p, int64_t count, int& lastError, Transfer transfer) {
  lastError = 0;
  int64_t done = 0;
  while (done < count) {
    ssize_t n = transfer(p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      break;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace

int64_t TZAFileStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  if (position_ < 0)
    return transferAll(p, count, lastError_, [this](uint8_t* q, size_t n) { return ::read(fd_, q, n); });
  auto readAt = [this](uint8_t* q, int64_t n) {
    return transferAll(q, n, lastError_, [this](uint8_t* r, size_t k) {
      const ssize_t got = ::pread(fd_, r, k, static_cast<off_t>(position_));
      if (got > 0) position_ += got;
      return got;
    });
  };
  if (!readAhead_) return readAt(p, count);
  constexpr int64_t kAhead = 64 * 1024;
  lastError_ = 0;
  int64_t done = 0;
  while (done < count) {
    const int64_t from = position_ - aheadAt_;
    if (from >= 0 && from < static_cast<int64_t>(ahead_.size())) {
      const int64_t n = std::min(count - done, static_cast<int64_t>(ahead_.size()) - from);
      std::memcpy(p + done, ahead_.data() + from, static_cast<size_t>(n));
      position_ += n;
      done += n;
      continue;
    }
    // A large read goes straight to the caller.
    if (count - done >= kAhead) return done + readAt(p + done, count - done);
    ahead_.resize(static_cast<size_t>(kAhead));
    aheadAt_ = position_;
    const int64_t got = readAt(ahead_.data(), kAhead);
    position_ = aheadAt_;
    ahead_.resize(static_cast<size_t>(got));
    if (got == 0) break;
  }
  return done;
}

int64_t TZAFileStream::Write(const void* buffer, int64_t count) {
  auto* p = static_cast<const uint8_t*>(buffer);
  if (position_ < 0)
    return transferAll(p, count, lastError_, [this](const uint8_t* q, size_t n) { return ::write(fd_, q, n); });
  return transferAll(p, count, lastError_, [this](const uint8_t* q, size_t n) {
    const ssize_t r = ::pwrite(fd_, q, n, static_cast<off_t>(position_));
    if (r > 0) position_ += r;
    return r;
  });
}

int64_t TZAFileStream::Seek(int64_t offset, TZASeekOrigin origin) {
  if (position_ >= 0 && origin != soEnd) {
    const int64_t target = origin == soBeginning ? offset : position_ + offset;
    if (target < 0) throw EZAStreamError(withErrno("Stream seek error", EINVAL), EINVAL);
    position_ = target;
    return position_;
  }
  int whence = origin == soBeginning ? SEEK_SET : (origin == soCurrent ? SEEK_CUR : SEEK_END);
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) {
    int err = errno;
    throw EZAStreamError(withErrno("Stream seek error", err), err);
  }
  if (position_ >= 0) position_ = r;
  return r;
}

int64_t TZAFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    int err = errno;
    throw EZAStreamError(withErrno("Stream size error", err), err);
  }
  return st.st_size;
}

void TZAFileStream::SetSize(int64_t size) {
  ahead_.clear();
  if (size < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    int err = size < 0 ? EINVAL : errno;
    throw EZAStreamError(withErrno("Stream size error", err), err);
  }
  if (Position() > size) Seek(size, soBeginning);
}

bool TZAFileStream::Flush() {
  lastError_ = 0;
  if (::fsync(fd_) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

int64_t TZAMemoryStream::Read(void* buffer, int64_t count) {
  lastError_ = 0;
  int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TZAMemoryStream::Write(const void* buffer, int64_t count) {
  lastError_ = 0;
  if (count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > Size()) {
    if (data_.capacity() < static_cast<size_t>(end)) data_.reserve(std::max<size_t>(static_cast<size_t>(end), data_.capacity() * 2));
    data_.resize(static_cast<size_t>(end));
  }
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TZAMemoryStream::Seek(int64_t offset, TZASeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : (origin == soCurrent ? position_ : Size());
  int64_t target = base + offset;
  if (target < 0) throw EZAStreamError("Stream seek error", EINVAL);
  position_ = target;
  return position_;
}

void TZAMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EZAStreamError("Stream size error", EINVAL);
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

void TZAMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

}  // namespace ziparchive
