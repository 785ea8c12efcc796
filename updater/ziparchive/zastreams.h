#pragma once
// Byte streams of the archive engine: abstract stream, file by descriptor, growable memory.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ziparchive {

// A stream failure (short read or write, failed seek, open or resize). Errno is 0 when
// the failure was a plain shortfall.
class EZAStreamError : public std::runtime_error {
 public:
  explicit EZAStreamError(const std::string& message, int errnum = 0)
      : std::runtime_error(message), Errno(errnum) {}
  int Errno;
};

enum TZASeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TZAStream {
 public:
  virtual ~TZAStream() = default;
  TZAStream() = default;
  TZAStream(const TZAStream&) = delete;
  TZAStream& operator=(const TZAStream&) = delete;

  // Both move up to count bytes and return how many moved; they stop at the end of the data
  // or at the first error (see LastError).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Returns the new position; throws EZAStreamError when the position would be negative.
  virtual int64_t Seek(int64_t offset, TZASeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  // errno of the last failed transfer, 0 when it ran out of data or room only.
  int LastError() const { return lastError_; }

  // Throw EZAStreamError unless every byte moved.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position (count 0: the whole source from its start);
  // returns the bytes copied, throws on a shortfall.
  int64_t CopyFrom(TZAStream& source, int64_t count);

 protected:
  int lastError_ = 0;
};

// Open modes: a 16-bit word of access and share bits; fmCreate creates or truncates.
// Share bits are kept for callers that pass them; Linux has no share modes.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A regular file it opened keeps its own position and moves data with pread/pwrite, so a seek
// costs no system call; opened read-only, small reads are served from a read-ahead block.
// A wrapped descriptor or a device is used at its offset (read, write, lseek).
class TZAFileStream : public TZAStream {
 public:
  // Opens or creates the file (O_CLOEXEC, 64-bit offsets); throws EZAStreamError with errno.
  TZAFileStream(const std::string& fileName, uint16_t mode, unsigned permissions = 0666);
  // Wraps an open descriptor; closes it on destruction when owned.
  TZAFileStream(int fd, bool ownsHandle, const std::string& fileName = {});
  ~TZAFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TZASeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  int Handle() const { return fd_; }
  const std::string& FileName() const { return fileName_; }
  // fsync; false with errno in LastError on failure.
  bool Flush();

 private:
  int fd_ = -1;
  bool owns_ = true;
  // Own position; -1 while the descriptor's offset is the position.
  int64_t position_ = -1;
  // Read-ahead of a read-only file: ahead_ holds the bytes from aheadAt_ on.
  bool readAhead_ = false;
  std::vector<uint8_t> ahead_;
  int64_t aheadAt_ = 0;
  std::string fileName_;
};

class TZAMemoryStream : public TZAStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TZASeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  void Clear();

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

}  // namespace ziparchive
