#include "updater/ziparchive/zaentrydata.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zablocks.h"
#include "updater/ziparchive/zacrypt.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zanames.h"

namespace ziparchive {

namespace {

constexpr size_t kInputChunk = 0x100000;   // compressed bytes read at a time
constexpr size_t kOutputChunk = 0x20000;  // output buffer, drained whenever it fills

bool StepProgress(const TZADataProgress* progress, int64_t done, int64_t total) {
  return progress == nullptr || !*progress || (*progress)(done, total);
}

// A z_stream that is always ended.
class ZStream {
 public:
  ZStream() { strm_ = z_stream{}; }
  ~ZStream() {
    if (inflating_) inflateEnd(&strm_);
    if (deflating_) deflateEnd(&strm_);
  }
  ZStream(const ZStream&) = delete;
  ZStream& operator=(const ZStream&) = delete;

  bool InitInflate() {
    if (inflating_) inflateEnd(&strm_);
    strm_ = z_stream{};
    inflating_ = inflateInit2(&strm_, -MAX_WBITS) == Z_OK;
    return inflating_;
  }
  bool InitDeflate(int level) {
    deflating_ = deflateInit2(&strm_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return deflating_;
  }
  // Ready for a new stream of the same kind, keeping what was allocated; no input left over.
  bool ResetInflate() {
    if (!inflating_ || inflateReset(&strm_) != Z_OK) return false;
    strm_.next_in = nullptr;
    strm_.avail_in = 0;
    return true;
  }
  z_stream* operator->() { return &strm_; }
  z_stream* get() { return &strm_; }

 private:
  z_stream strm_;
  bool inflating_ = false;
  bool deflating_ = false;
};

// Reads the next block of compressed input; deciphers it.
TZADataStatus Refill(TZADataSource& source, uint8_t* in, size_t& got, const TZAInflateJob& job,
                     TZADataOutcome& out) {
  if (!StepProgress(job.Progress, out.Read, job.CompressedSize)) return TZADataStatus::Cancelled;
  const auto want = static_cast<size_t>(std::min<int64_t>(kInputChunk, job.CompressedSize - out.Read));
  const int64_t n = source.ReadData(in, static_cast<int64_t>(want));
  if (n < static_cast<int64_t>(want)) return TZADataStatus::ReadShort;
  if (job.Cipher != nullptr) job.Cipher->Process(in, want);
  got = want;
  out.Read += static_cast<int64_t>(want);
  return TZADataStatus::Ok;
}

TZADataStatus CopyStored(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job,
                         TZADataOutcome& out) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[std::min<int64_t>(kInputChunk, job.CompressedSize)]);
  while (out.Read < job.CompressedSize) {
    size_t got = 0;
    TZADataStatus s = Refill(source, in.get(), got, job, out);
    if (s == TZADataStatus::Ok) s = EmitDecoded(sink, in.get(), got, job, out);
    if (s != TZADataStatus::Ok) return s;
  }
  return TZADataStatus::Ok;
}

// The inflate state of the last entry, reset for the next one rather than made anew. One user
// at a time: a handler called during an entry may extract another.
struct KeptInflate {
  ZStream z;
  bool busy = false;
};

TZADataStatus Inflate(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job,
                      TZADataOutcome& out) {
  static KeptInflate kept;
  ZStream own;
  const bool shared = !kept.busy;
  ZStream& z = shared ? kept.z : own;
  if (!(shared && z.ResetInflate()) && !z.InitInflate()) return TZADataStatus::InflateError;
  struct Release {
    bool& busy;
    bool shared;
    ~Release() {
      if (shared) busy = false;
    }
  } release{kept.busy, shared};
  if (shared) kept.busy = true;
  std::unique_ptr<uint8_t[]> in(new uint8_t[std::min<int64_t>(kInputChunk, job.CompressedSize)]);
  // The output buffer is never sized from the claimed size beyond a small floor.
  const size_t outSize = static_cast<size_t>(
      std::clamp<int64_t>(job.UncompressedSize + 1, 4096, static_cast<int64_t>(kOutputChunk)));
  std::unique_ptr<uint8_t[]> outBuf(new uint8_t[outSize]);
  for (;;) {
    if (z->avail_in == 0 && out.Read < job.CompressedSize) {
      size_t got = 0;
      const TZADataStatus s = Refill(source, in.get(), got, job, out);
      if (s != TZADataStatus::Ok) return s;
      z->next_in = in.get();
      z->avail_in = static_cast<uInt>(got);
    }
    z->next_out = outBuf.get();
    z->avail_out = static_cast<uInt>(outSize);
    const int ret = inflate(z.get(), Z_NO_FLUSH);
    if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) return TZADataStatus::InflateError;
    const TZADataStatus s = EmitDecoded(sink, outBuf.get(), outSize - z->avail_out, job, out);
    if (s != TZADataStatus::Ok) return s;
    if (ret == Z_STREAM_END) return TZADataStatus::Ok;
    const bool outputRoom = z->avail_out != 0;
    // No input left to give and zlib wants more: the stream is cut short.
    if (z->avail_in == 0 && out.Read >= job.CompressedSize && outputRoom) return TZADataStatus::InflateError;
    // zlib made no progress with input and room: give up rather than spin.
    if (ret == Z_BUF_ERROR && z->avail_in != 0 && outputRoom) return TZADataStatus::InflateError;
  }
}

}  // namespace

void EncodeLocalHeader(const TZALocalHeader& h, uint8_t* p) {
  PutU32(p, h.Signature);
  PutU16(p + 4, h.VersionNeeded);
  PutU16(p + 6, h.Flags);
  PutU16(p + 8, h.CompressionMethod);
  PutU16(p + 10, h.LastModTime);
  PutU16(p + 12, h.LastModDate);
  PutU32(p + 14, h.Crc32);
  PutU32(p + 18, h.CompressedSize);
  PutU32(p + 22, h.UncompressedSize);
  PutU16(p + 26, h.NameLength);
  PutU16(p + 28, h.ExtraLength);
}

const char* DataStatusText(TZADataStatus status) {
  switch (status) {
    case TZADataStatus::Ok: return "OK";
    case TZADataStatus::Cancelled: return "cancelled";
    case TZADataStatus::BadLocalHeader: return "bad local header";
    case TZADataStatus::BadRange: return "data overlaps the central directory";
    case TZADataStatus::UnsupportedMethod: return "unsupported compression method";
    case TZADataStatus::Unreadable: return "encrypted entry";
    case TZADataStatus::ReadShort: return "unexpected end of data";
    case TZADataStatus::WriteShort: return "write error";
    case TZADataStatus::InflateError: return "invalid compressed data";
    case TZADataStatus::DeflateError: return "compression error";
    case TZADataStatus::TooLong: return "more data than the declared size";
    case TZADataStatus::SizeMismatch: return "size mismatch";
    case TZADataStatus::CrcMismatch: return "CRC mismatch";
  }
  return "unknown";
}

// Hands a block of output on: counts it, checks it against the declared size, adds it to
// the CRC and writes it.
TZADataStatus EmitDecoded(TZADataSink& sink, const uint8_t* data, size_t n, const TZAInflateJob& job,
                   TZADataOutcome& out) {
  if (n == 0) return TZADataStatus::Ok;
  if (static_cast<uint64_t>(out.Written) + n > static_cast<uint64_t>(std::max<int64_t>(job.UncompressedSize, 0))) {
    return TZADataStatus::TooLong;
  }
  out.Crc32 = UpdateCrc32Long(out.Crc32, data, n);
  if (!sink.WriteData(data, static_cast<int64_t>(n))) return TZADataStatus::WriteShort;
  out.Written += static_cast<int64_t>(n);
  return TZADataStatus::Ok;
}

TZADataOutcome FinishDecoded(const TZAInflateJob& job, TZADataOutcome& out) {
  out.Crc32 ^= 0xFFFFFFFFu;
  if (out.Status == TZADataStatus::Ok && out.Written != job.UncompressedSize) out.Status = TZADataStatus::SizeMismatch;
  if (out.Status == TZADataStatus::Ok && out.Crc32 != job.Crc32) out.Status = TZADataStatus::CrcMismatch;
  return out;
}

TZADataOutcome DecodeEntryData(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job) {
  TZADataOutcome out;
  out.Crc32 = 0xFFFFFFFFu;
  if (job.CompressedSize < 0 || job.UncompressedSize < 0) {
    out.Status = TZADataStatus::BadRange;
  } else if (job.Method != kMethodStored && job.Method != kMethodDeflated) {
    out.Status = TZADataStatus::UnsupportedMethod;
  } else if (job.CompressedSize > 0) {
    out.Status = job.Method == kMethodStored ? CopyStored(source, sink, job, out) : Inflate(source, sink, job, out);
  }
  return FinishDecoded(job, out);
}

bool EntryRangesOverlap(const TZADirArray& dir) {
  struct Range {
    uint32_t disk;
    uint64_t start, end;
    bool operator<(const Range& o) const { return disk != o.disk ? disk < o.disk : start < o.start; }
  };
  auto rangeOf = [&](int i) {
    const TDirItem& e = dir.DirItemAt(i);
    const auto start = static_cast<uint64_t>(EffectiveLocalHeaderOffset(e));
    const auto size = static_cast<uint64_t>(std::max<int64_t>(EffectiveCompressedSize(e), 0));
    const uint32_t disk = e.DiskNumberStart == 0xFFFF ? e.Zip64DiskNumberStart : e.DiskNumberStart;
    return Range{disk, start, start + kLocalHeaderSize + size};
  };
  auto overlapIn = [](auto next, int count) {
    Range last{};
    for (int i = 0; i < count; ++i) {
      const Range r = next(i);
      if (i > 0 && r.disk == last.disk && r.start < last.end) return true;
      last = r;
    }
    return false;
  };
  // Entries usually stand in the directory in file order: then one pass needs no copy.
  bool ordered = true;
  for (int i = 1; i < dir.DirItemCount() && ordered; ++i) ordered = !(rangeOf(i) < rangeOf(i - 1));
  if (ordered) return overlapIn(rangeOf, dir.DirItemCount());
  std::vector<Range> ranges;
  ranges.reserve(static_cast<size_t>(dir.DirItemCount()));
  for (int i = 0; i < dir.DirItemCount(); ++i) ranges.push_back(rangeOf(i));
  std::sort(ranges.begin(), ranges.end());
  return overlapIn([&](int i) { return ranges[size_t(i)]; }, int(ranges.size()));
}

uint64_t DeflateBound(uint64_t n) { return n + ((n + 7) >> 3) + ((n + 63) >> 6) + 11; }

TZADataOutcome EncodeEntryData(TZADataSource& source, TZADataSink& sink, const TZADeflateJob& job) {
  TZADataOutcome out;
  uint32_t crc = 0xFFFFFFFFu;
  const bool deflating = job.Method == kMethodDeflated && job.SourceSize > 0;
  ZStream z;
  if (deflating && !z.InitDeflate(std::clamp(job.Level, 0, 9))) {
    out.Status = TZADataStatus::DeflateError;
    return out;
  }
  const size_t block = std::max<size_t>(job.BlockSize, 4096);
  std::unique_ptr<uint8_t[]> in(new uint8_t[static_cast<size_t>(std::min<int64_t>(block, std::max<int64_t>(job.SourceSize, 1)))]);
  std::unique_ptr<uint8_t[]> outBuf(deflating ? new uint8_t[kOutputChunk] : nullptr);

  auto put = [&](uint8_t* data, size_t n) {
    if (n == 0) return true;
    if (job.Cipher != nullptr) job.Cipher->Process(data, n);
    if (!sink.WriteData(data, static_cast<int64_t>(n))) return false;
    out.Written += static_cast<int64_t>(n);
    return true;
  };

  while (out.Read < job.SourceSize && out.Status == TZADataStatus::Ok) {
    if (!StepProgress(job.Progress, out.Read, job.SourceSize)) {
      out.Status = TZADataStatus::Cancelled;
      break;
    }
    const auto want = static_cast<size_t>(std::min<int64_t>(block, job.SourceSize - out.Read));
    const int64_t got = source.ReadData(in.get(), static_cast<int64_t>(want));
    if (got < static_cast<int64_t>(want)) {
      out.Status = TZADataStatus::ReadShort;
      break;
    }
    crc = UpdateCrc32Long(crc, in.get(), want);
    out.Read += static_cast<int64_t>(want);
    if (!deflating) {
      if (!put(in.get(), want)) out.Status = TZADataStatus::WriteShort;
      continue;
    }
    // Deflate the block until zlib has taken all of it (and, at the end, closed the stream).
    const int flush = out.Read == job.SourceSize ? Z_FINISH : Z_NO_FLUSH;
    z->next_in = in.get();
    z->avail_in = static_cast<uInt>(want);
    for (;;) {
      z->next_out = outBuf.get();
      z->avail_out = static_cast<uInt>(kOutputChunk);
      const int ret = deflate(z.get(), flush);
      if (ret == Z_STREAM_ERROR) {
        out.Status = TZADataStatus::DeflateError;
        break;
      }
      if (!put(outBuf.get(), kOutputChunk - z->avail_out)) {
        out.Status = TZADataStatus::WriteShort;
        break;
      }
      if (flush == Z_FINISH ? ret == Z_STREAM_END : (z->avail_in == 0 && z->avail_out != 0)) break;
    }
  }
  out.Crc32 = crc ^ 0xFFFFFFFFu;
  return out;
}

// ---- the component's entry data steps ----------------------------------------------------

namespace {

constexpr uint32_t kSat32 = 0xFFFFFFFFu;
constexpr int64_t kHeadRead = 0x10000;  // first read of an entry: its header and a small entry whole

// The archive as a data source: reads run on into the next volume when one ends.
class ArchiveSource : public TZADataSource {
 public:
  ArchiveSource(TZABaseArchiver& archiver, TZAStream& stream, TZAVolumeNumberInfo volume)
      : archiver_(archiver), stream_(&stream), volume_(volume) {}

  int64_t ReadData(void* buffer, int64_t count) override {
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = stream_->Read(p, count);
    while (done < count && nextVolume()) {
      const int64_t n = stream_->Read(p + done, count - done);
      if (n <= 0) break;
      done += n;
    }
    return done;
  }

  // Moves on by count bytes, across volumes where needed.
  bool Skip(int64_t count) {
    const int64_t pos = stream_->Position();
    if (pos + count <= stream_->Size()) {
      stream_->Seek(count, soCurrent);
      return true;
    }
    uint8_t scratch[4096];
    while (count > 0) {
      const int64_t n = ReadData(scratch, std::min<int64_t>(count, sizeof scratch));
      if (n <= 0) return false;
      count -= n;
    }
    return true;
  }

  TZAStream& Stream() { return *stream_; }

 private:
  // Only a volume of the component's own multi-volume archive is switched.
  bool nextVolume() {
    TZADirManager* dir = archiver_.FDirManager.get();
    if (archiver_.SpanningMode() == smNone || dir == nullptr || dir->IsCustomStream ||
        stream_ != archiver_.FArchiveStream) {
      return false;
    }
    if (volume_.LastVolumeNumber >= 0 && volume_.VolumeNumber >= volume_.LastVolumeNumber) return false;
    volume_.SetVolumeNumber(volume_.VolumeNumber + 1);
    // The last volume carries the archive's own name.
    if (volume_.VolumeNumber == volume_.LastVolumeNumber) volume_.SetLastVolume(true);
    dir->SwitchToVolume(volume_);
    stream_ = archiver_.FArchiveStream;
    stream_->SetPosition(0);
    return true;
  }

  TZABaseArchiver& archiver_;
  TZAStream* stream_;
  TZAVolumeNumberInfo volume_;
};

// Bytes already read, then the rest from the source.
class PrefixSource : public TZADataSource {
 public:
  PrefixSource(const uint8_t* data, size_t size, ArchiveSource& rest) : data_(data), size_(size), rest_(rest) {}

  int64_t ReadData(void* buffer, int64_t count) override {
    auto* p = static_cast<uint8_t*>(buffer);
    const auto n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(size_ - pos_)));
    if (n > 0) std::memcpy(p, data_ + pos_, n);  // p may be null for an empty read
    pos_ += n;
    if (static_cast<int64_t>(n) == count) return count;
    return static_cast<int64_t>(n) + std::max<int64_t>(rest_.ReadData(p + n, count - static_cast<int64_t>(n)), 0);
  }

  bool Skip(int64_t count) {
    const auto n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(size_ - pos_)));
    pos_ += n;
    return static_cast<int64_t>(n) == count || rest_.Skip(count - static_cast<int64_t>(n));
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  ArchiveSource& rest_;
};

class StreamSink : public TZADataSink {
 public:
  explicit StreamSink(TZAStream& stream) : stream_(stream) {}
  bool WriteData(const void* buffer, int64_t count) override { return stream_.Write(buffer, count) == count; }

 private:
  TZAStream& stream_;
};

class StreamSource : public TZADataSource {
 public:
  explicit StreamSource(TZAStream& stream) : stream_(stream) {}
  int64_t ReadData(void* buffer, int64_t count) override {
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const int64_t n = stream_.Read(p + done, count - done);
      if (n <= 0) break;
      done += n;
    }
    return done;
  }

 private:
  TZAStream& stream_;
};

class ZipCryptDecipher : public TZADataCipher {
 public:
  explicit ZipCryptDecipher(const TZACryptKeys& keys) : keys_(keys) {}
  void Process(uint8_t* buffer, size_t count) override { ZipCryptDecodeBuffer(buffer, count, keys_); }

 private:
  TZACryptKeys keys_;
};

// Decipherer of an encrypted entry, positioned at its first data byte; nullptr when the entry
// cannot be read (header cut short, or skipped for want of a password: FSkip set).
std::unique_ptr<TZADataCipher> ReadCipherFor(TZABaseArchiver& a, TZADataSource& source, const TDirItem& item) {
  uint8_t header[kCryptHeaderSize];
  if (source.ReadData(header, kCryptHeaderSize) != static_cast<int64_t>(kCryptHeaderSize)) return nullptr;
  TZACryptKeys keys;
  bool skip = false;
  while (!CheckItemPassword(header, a.Password, keys, item.Crc32, item.LastModTime, item.Flags)) {
    // Without the prompt a wrong password gives wrong data, which the CRC check then catches.
    if (a.FSuppressPasswordEvent) break;
    a.DoPassword(std::string(item.Name()), a.Password, skip);
    if (skip) {
      a.FSkip = true;
      return nullptr;
    }
  }
  return std::make_unique<ZipCryptDecipher>(keys);
}
// Fires the file and overall progress events; False when either asks to stop.
bool ItemProgress(TZABaseArchiver& a, std::string_view name, TZAProcessOperation op, int64_t done,
                  int64_t total) {
  if (!a.FProgressEnabled) return true;
  a.FCurrentItemDone = static_cast<double>(done);
  a.FCurrentItemSize = static_cast<double>(total);
  const double part = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
  bool cancel = false;
  a.DoFileProgress(std::string(name), part * 100.0, op, ppProcess, cancel);
  if (!cancel) {
    const double overall =
        a.FSelectedCount > 0 ? (part + a.FItemsDone) / static_cast<double>(a.FSelectedCount) * 100.0 : 100.0;
    a.DoOverallProgress(std::min(overall, 100.0), op, ppProcess, cancel);
  }
  if (cancel) a.FCancel = true;
  return !cancel;
}

class ZipCryptEncipher : public TZADataCipher {
 public:
  explicit ZipCryptEncipher(const TZACryptKeys& keys) : keys_(keys) {}
  void Process(uint8_t* buffer, size_t count) override { ZipCryptEncodeRange(count, 0, buffer, keys_); }

 private:
  TZACryptKeys keys_;
};

// Encipherer for an entry written with a password. The header carries the CRC, so a first pass
// over the source computes it (crc: the final CRC-32); the source is then back at its start and
// the enciphered header written. nullptr when a progress handler cancelled the first pass.
std::unique_ptr<TZADataCipher> WriteCipherFor(TZABaseArchiver& a, TZADataSink& sink, TZAStream& source,
                                              const TDirItem& item, uint32_t& crc) {
  const int64_t size = source.Size();
  const auto block = static_cast<size_t>(
      std::min<int64_t>(BufferSizeForMode(item.EntryCompressionMode), std::max<int64_t>(size, 1)));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[block]);
  const std::string_view name = item.Pending().SourceFileName.empty() ? item.Name() : item.Pending().SourceFileName;
  StreamSource from(source);
  crc = 0xFFFFFFFFu;
  for (int64_t done = 0; done < size;) {
    // Nothing is written yet: the entry shows 0 % while its CRC is taken.
    if (!ItemProgress(a, name, item.Operation, 0, size)) return nullptr;
    const auto want = static_cast<int64_t>(std::min<int64_t>(static_cast<int64_t>(block), size - done));
    const int64_t got = from.ReadData(buffer.get(), want);
    crc = UpdateCrc32Long(crc, buffer.get(), static_cast<size_t>(std::max<int64_t>(got, 0)));
    done += std::max<int64_t>(got, 0);
    if (got < want) break;  // the data pass finds the same shortfall and reports it
  }
  crc ^= 0xFFFFFFFFu;
  source.SetPosition(0);
  uint8_t header[kCryptHeaderSize];
  TZACryptKeys keys;
  if (!ZipCryptMakeHeader(item.Pending().EntryPassword, crc, keys, header)) throw EZAException::CreateForCode(0, &a);
  if (!sink.WriteData(header, kCryptHeaderSize)) throw EZAException::CreateForCode(46, &a);
  return std::make_unique<ZipCryptEncipher>(keys);
}

bool NeedsZip64(uint64_t size) { return size >= kSat32; }

}  // namespace

int BufferSizeForMode(int mode) {
  if (mode >= 1 && mode <= 3) return 0x80000;
  if (mode >= 7 && mode <= 9) return 0x180000;
  return 0x100000;
}

namespace {

// Whether the blocks of an entry may be read: an enciphered one needs its check bytes, as the
// block hook deciphers them with the password, to match their CRC.
bool BlockPasswordFits(TZABaseArchiver& a, const TDirItem& item, const TZABlockHeader& h) {
  if (h.CipherId == kBlockNotEnciphered) return true;
  auto fits = [&] {
    uint8_t check[sizeof h.Check];
    std::memcpy(check, h.Check, sizeof check);
    DecipherBlock(static_cast<uint8_t>(h.CipherId), check, sizeof check, a.Password);
    return (UpdateCrc32Long(0xFFFFFFFFu, check, sizeof check) ^ 0xFFFFFFFFu) == h.CheckCrc;
  };
  if (fits() || a.FSuppressPasswordEvent) return true;
  bool skip = false;
  a.DoPassword(std::string(item.Name()), a.Password, skip);
  if (skip) {
    a.FSkip = true;
    return false;
  }
  // The hook takes no part of the password, so asking again could never end: one answer decides.
  return fits();
}

TZADataStatus ReadBlocks(TZABaseArchiver& a, TZADataSource& source, TZAStream& dest, const TDirItem& item,
                         int64_t compressed) {
  TZAInflateJob job;
  job.Method = item.CompressionMethod;
  job.CompressedSize = compressed;
  job.UncompressedSize = EffectiveUncompressedSize(item);
  job.Crc32 = item.Crc32;
  const TZADataProgress progress = [&](int64_t done, int64_t total) {
    return ItemProgress(a, item.Name(), item.Operation, done, total);
  };
  job.Progress = &progress;
  const TZABlockCheck check = [&](const TZABlockHeader& h) { return BlockPasswordFits(a, item, h); };
  StreamSink sink(dest);
  return DecodeBlockData(source, sink, job, item.UncompressedSize == kSat32, check).Status;
}

TZADataStatus ReadItemData(TZABaseArchiver& a, TZAStream& archive, TZAStream& dest, const TDirItem& item) {
  TZADirManager* dir = a.FDirManager.get();
  TZAVolumeNumberInfo volume;
  volume.SetVolumeNumber(item.DiskNumberStart == 0xFFFF ? static_cast<int32_t>(item.Zip64DiskNumberStart)
                                                        : item.DiskNumberStart);
  volume.LastVolumeNumber = a.FVolumeInfo.LastVolumeNumber;
  if (dir != nullptr && a.SpanningMode() != smNone) {
    // The records at the end tell how many volumes there are.
    if (dir->IsZip64) {
      volume.LastVolumeNumber = static_cast<int32_t>(dir->Zip64LocatorFields().TotalVolumes) - 1;
    } else {
      const uint16_t last = dir->EndRecordFields().ThisVolume;
      volume.LastVolumeNumber = last == 0xFFFF ? 0 : last;
    }
  }
  ArchiveSource archiveSource(a, archive, volume);
  const int64_t headerAt = archive.Position();

  // Header, name, extra field and (for a small entry) all its data in one read.
  const int64_t expected = static_cast<int64_t>(kLocalHeaderSize) + item.NameLength + item.ExtraLength +
                           std::max<int64_t>(EffectiveCompressedSize(item), 0);
  std::vector<uint8_t> head(static_cast<size_t>(std::clamp<int64_t>(expected, kLocalHeaderSize, kHeadRead)));
  // Only the current volume: a read ahead never asks for the next one.
  int64_t got = std::max<int64_t>(archive.Read(head.data(), static_cast<int64_t>(head.size())), 0);
  if (got < static_cast<int64_t>(kLocalHeaderSize)) {
    got += archiveSource.ReadData(head.data() + got, static_cast<int64_t>(kLocalHeaderSize) - got);
  }
  if (got < static_cast<int64_t>(kLocalHeaderSize)) return TZADataStatus::ReadShort;
  TZALocalHeader local;
  DecodeLocalHeader(head.data(), local);
  if (local.Signature != kLocalHeaderSignature) return TZADataStatus::BadLocalHeader;
  const int64_t dataAt = static_cast<int64_t>(kLocalHeaderSize) + local.NameLength + local.ExtraLength;
  PrefixSource source(head.data(), static_cast<size_t>(got), archiveSource);
  if (!source.Skip(dataAt)) return TZADataStatus::ReadShort;

  int64_t compressed = EffectiveCompressedSize(item);
  if (a.SpanningMode() == smNone && dir != nullptr) {
    // The data of a single-file archive lies before its central directory.
    const int64_t start = headerAt + dataAt;
    if (start > dir->CentralDirOffset) return TZADataStatus::BadRange;
    compressed = std::min(compressed, dir->CentralDirOffset - start);
  }
  if (item.CompressionMethod == kMethodDeflate64) throw EZAException::CreateForCode(55, &a);
  const bool blocks = item.CompressionMethod != kMethodStored && item.CompressionMethod != kMethodDeflated;
  // Other methods are the block format, from version 1.1 on.
  if (blocks && item.VersionNeeded <= 10) return TZADataStatus::UnsupportedMethod;
  a.FSkip = false;
  if (blocks) return ReadBlocks(a, source, dest, item, compressed);

  TZAInflateJob job;
  job.Method = item.CompressionMethod;
  job.UncompressedSize = EffectiveUncompressedSize(item);
  job.Crc32 = item.Crc32;
  std::unique_ptr<TZADataCipher> cipher;
  if (item.Flags & 1) {
    if (compressed < static_cast<int64_t>(kCryptHeaderSize)) return TZADataStatus::ReadShort;
    cipher = ReadCipherFor(a, source, item);
    if (!cipher) return TZADataStatus::Unreadable;
    compressed -= 12;
  }
  job.CompressedSize = compressed;
  job.Cipher = cipher.get();
  const TZADataProgress progress = [&](int64_t done, int64_t total) {
    return ItemProgress(a, item.Name(), item.Operation, done, total);
  };
  job.Progress = &progress;
  StreamSink sink(dest);
  return DecodeEntryData(source, sink, job).Status;
}

}  // namespace

bool TZABaseArchiver::DecompressItem(TZAStream& archive, TZAStream& dest, const TDirItem& item) {
  FLastDataStatus = ReadItemData(*this, archive, dest, item);
  return FLastDataStatus == TZADataStatus::Ok;
}

bool TZABaseArchiver::CompressItem(TZAStream& source, TZAStream& dest, TDirItem& item) {
  source.SetPosition(0);
  const int64_t size = source.Size();
  StreamSource from(source);
  StreamSink to(dest);
  std::unique_ptr<TZADataCipher> cipher;
  int64_t header = 0;
  uint32_t firstPassCrc = 0;
  if (!item.Pending().EntryPassword.empty()) {
    cipher = WriteCipherFor(*this, to, source, item, firstPassCrc);
    if (!cipher) return false;
    header = static_cast<int64_t>(kCryptHeaderSize);
  }
  TZADeflateJob job;
  job.Method = item.CompressionMethod;
  job.Level = item.EntryCompressionMode;
  job.SourceSize = size;
  job.BlockSize = static_cast<size_t>(BufferSizeForMode(item.EntryCompressionMode));
  job.Cipher = cipher.get();
  const std::string_view name = item.Pending().SourceFileName.empty() ? item.Name() : item.Pending().SourceFileName;
  const TZADataProgress progress = [&](int64_t done, int64_t total) {
    return ItemProgress(*this, name, item.Operation, done, total);
  };
  job.Progress = &progress;
  const TZADataOutcome out = EncodeEntryData(from, to, job);
  if (out.Status != TZADataStatus::Ok) {
    if (out.Status == TZADataStatus::Cancelled || FCancel) return false;
    throw EZAException::CreateForCodeFmt(34, this, {static_cast<long long>(size), static_cast<long long>(out.Read)});
  }
  // A source that changed between the two passes would leave a header that no password opens.
  if (cipher && out.Crc32 != firstPassCrc) throw EZAException::CreateForCode(8, this);
  const bool always = Zip64Mode == zmAlways;
  StoreEffective(out.Written + header, always, item.CompressedSize, item.Zip64CompressedSize, item.HasZip64);
  StoreEffective(size, always, item.UncompressedSize, item.Zip64UncompressedSize, item.HasZip64);
  item.Crc32 = out.Crc32;
  if (item.HasZip64 && Zip64Mode == zmDisabled) throw EZAException::CreateForCodeFmt(41, this, {item.Pending().SourceFileName});
  if (size == 0) item.CompressionMethod = kMethodStored;
  return true;
}

bool TZABaseArchiver::WriteItemHeaderAndData(TZAStream& out, TDirItem& item, TZAStream* source) {
  const bool always = Zip64Mode == zmAlways;
  const int64_t offset = out.Position();
  StoreEffective(offset, always, item.LocalHeaderOffset, item.Zip64LocalHeaderOffset, item.HasZip64);
  const int64_t size = source != nullptr ? source->Size() : 0;
  const bool hugeSource = NeedsZip64(static_cast<uint64_t>(size));
  const std::string fileName =
      item.Pending().SourceFileName.empty() ? std::string(item.Name()) : item.Pending().SourceFileName;
  if ((hugeSource || item.HasZip64) && Zip64Mode == zmDisabled) {
    throw EZAException::CreateForCodeFmt(43, this, {fileName});
  }
  // The Zip64 field is reserved whenever the data could pass 4 GiB, deflate overhead included.
  const bool reserve = Zip64Mode != zmDisabled && (hugeSource || always || NeedsZip64(DeflateBound(size) + 12));
  const uint16_t version = (item.HasZip64 || reserve) ? 45 : (Options.OEMFileNames ? 20 : 0x0B14);
  item.VersionMadeBy = version;
  item.VersionNeeded = version;

  TZALocalHeader h;
  h.VersionNeeded = version;
  // Bit 0 says whether an encryption header follows: only data written with a password has one.
  h.Flags = static_cast<uint16_t>(FlagsForName(item.Flags, item.Name()) & ~0x0009);
  if (source != nullptr && !item.Pending().EntryPassword.empty()) h.Flags |= 1;
  item.Flags = h.Flags;
  h.CompressionMethod = size > 0 ? item.CompressionMethod : kMethodStored;
  h.LastModTime = item.LastModTime;
  h.LastModDate = item.LastModDate;
  h.Crc32 = item.Crc32;
  h.UncompressedSize = reserve ? kSat32 : static_cast<uint32_t>(size);
  h.NameLength = static_cast<uint16_t>(item.Name().size());
  h.ExtraLength = reserve ? 20 : 0;
  uint8_t raw[kLocalHeaderSize + 20] = {};
  EncodeLocalHeader(h, raw);
  out.WriteBuffer(raw, kLocalHeaderSize);
  out.WriteBuffer(item.Name().data(), static_cast<int64_t>(item.Name().size()));
  if (reserve) out.WriteBuffer(raw + kLocalHeaderSize, 20);
  if (source == nullptr) return true;

  if (!CompressItem(*source, out, item)) return false;
  const int64_t end = out.Position();
  h.Crc32 = item.Crc32;
  h.CompressedSize = reserve ? kSat32 : item.CompressedSize;
  h.CompressionMethod = item.CompressionMethod;
  EncodeLocalHeader(h, raw);
  if (reserve) {
    PutU16(raw + kLocalHeaderSize, kZip64ExtraId);
    PutU16(raw + kLocalHeaderSize + 2, 16);
    PutU64(raw + kLocalHeaderSize + 4, static_cast<uint64_t>(size));
    PutU64(raw + kLocalHeaderSize + 12, static_cast<uint64_t>(EffectiveCompressedSize(item)));
  }
  out.SetPosition(offset);
  out.WriteBuffer(raw, kLocalHeaderSize);
  if (reserve) {
    out.Seek(static_cast<int64_t>(item.Name().size()), soCurrent);
    out.WriteBuffer(raw + kLocalHeaderSize, 20);
  }
  out.SetPosition(end);
  return true;
}

}  // namespace ziparchive
