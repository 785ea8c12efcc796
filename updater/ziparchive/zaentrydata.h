#pragma once
// Entry data: the local header as written, and the loops that turn a source into
// stored or raw-deflate bytes and back. The loops run over small source and sink interfaces
// with fixed buffers, so memory stays flat whatever sizes an archive claims.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "updater/ziparchive/zacrc32.h"
#include "updater/ziparchive/zadirarray.h"
#include "updater/ziparchive/zastreams.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

void EncodeLocalHeader(const TZALocalHeader& h, uint8_t* p);

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kMethodDeflate64 = 9;

// How one entry's data went.
enum class TZADataStatus {
  Ok,
  Cancelled,          // a progress handler asked to stop
  BadLocalHeader,     // no local header signature where the directory points
  BadRange,           // the data does not lie before the central directory
  UnsupportedMethod,  // neither stored nor deflated
  Unreadable,         // encrypted, and no cipher could be had
  ReadShort,          // the archive or source ended early
  WriteShort,         // the destination took fewer bytes than given
  InflateError,       // corrupt or truncated deflate data
  DeflateError,       // zlib refused to compress
  TooLong,            // more output than the declared size
  SizeMismatch,       // less output than the declared size
  CrcMismatch,
};
const char* DataStatusText(TZADataStatus status);

class TZADataSource {
 public:
  virtual ~TZADataSource() = default;
  // Reads up to count bytes; fewer only at the end of the data or on an error.
  virtual int64_t ReadData(void* buffer, int64_t count) = 0;
};

class TZADataSink {
 public:
  virtual ~TZADataSink() = default;
  // False when not every byte could be written.
  virtual bool WriteData(const void* buffer, int64_t count) = 0;
};

// Enciphers or deciphers compressed bytes in place, the state running on across calls.
class TZADataCipher {
 public:
  virtual ~TZADataCipher() = default;
  virtual void Process(uint8_t* buffer, size_t count) = 0;
};

// Called before each block with the bytes done and the total; False cancels.
using TZADataProgress = std::function<bool(int64_t done, int64_t total)>;

struct TZAInflateJob {
  uint16_t Method = kMethodStored;
  int64_t CompressedSize = 0;    // bytes of data to read (after any encryption header)
  int64_t UncompressedSize = 0;  // declared size: output past it fails at once
  uint32_t Crc32 = 0;            // declared CRC-32
  TZADataCipher* Cipher = nullptr;
  const TZADataProgress* Progress = nullptr;
};

struct TZADataOutcome {
  TZADataStatus Status = TZADataStatus::Ok;
  int64_t Read = 0;     // bytes taken from the source
  int64_t Written = 0;  // bytes given to the sink
  uint32_t Crc32 = 0;   // CRC-32 of the uncompressed bytes
};

// Reads one entry's data (stored or deflated) from the source, writes its content to the sink
// and checks size and CRC-32. The deflate stream ends where it says it ends: bytes after it
// are not read as data.
TZADataOutcome DecodeEntryData(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job);

// Hands decoded output on: checks it against the declared size, adds it to the running CRC
// (out.Crc32, preset) and writes it.
TZADataStatus EmitDecoded(TZADataSink& sink, const uint8_t* data, size_t n, const TZAInflateJob& job,
                          TZADataOutcome& out);
// Ends a decode: the CRC inverted, then the size and CRC checks on a status still Ok.
TZADataOutcome FinishDecoded(const TZAInflateJob& job, TZADataOutcome& out);

struct TZADeflateJob {
  uint16_t Method = kMethodDeflated;
  int Level = 6;               // 0-9
  int64_t SourceSize = 0;      // bytes to take from the source
  size_t BlockSize = 0x100000; // source bytes read at a time
  TZADataCipher* Cipher = nullptr;
  const TZADataProgress* Progress = nullptr;
};

// Stores or raw-deflates SourceSize bytes of the source into the sink. Read is the source
// bytes consumed: below SourceSize on a cancel, a short read or a failure.
TZADataOutcome EncodeEntryData(TZADataSource& source, TZADataSink& sink, const TZADeflateJob& job);

// A stream that takes every byte and keeps none (the destination of a test); it always
// stands at its end, which is the count of bytes written.
class TZADiscardStream : public TZAStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    written_ += count;
    return count;
  }
  int64_t Seek(int64_t, TZASeekOrigin) override { return written_; }
  int64_t Size() override { return written_; }
  void SetSize(int64_t size) override { written_ = size; }

 private:
  int64_t written_ = 0;
};

// Work buffer of a compression mode: 512 KB for 1-3, 1.5 MB for 7-9, else 1 MB.
int BufferSizeForMode(int mode);

// True when the local headers and data of two entries on one volume share bytes (entries
// made to inflate the same data over and over). Each entry takes at least its 30-byte header
// and its compressed size from its local header offset.
bool EntryRangesOverlap(const TZADirArray& dir);

// Largest raw-deflate output for a source of n bytes (stored blocks for incompressible data).
uint64_t DeflateBound(uint64_t n);

}  // namespace ziparchive
