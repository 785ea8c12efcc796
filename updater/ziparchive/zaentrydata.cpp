#include "updater/ziparchive/zaentrydata.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

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
    inflating_ = inflateInit2(&strm_, -MAX_WBITS) == Z_OK;
    return inflating_;
  }
  bool InitDeflate(int level) {
    deflating_ = deflateInit2(&strm_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return deflating_;
  }
  z_stream* operator->() { return &strm_; }
  z_stream* get() { return &strm_; }

 private:
  z_stream strm_;
  bool inflating_ = false;
  bool deflating_ = false;
};

// Hands a block of output on: counts it, checks it against the declared size, adds it to
// the CRC and writes it.
TZADataStatus Emit(TZADataSink& sink, const uint8_t* data, size_t n, const TZAInflateJob& job,
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
    if (s == TZADataStatus::Ok) s = Emit(sink, in.get(), got, job, out);
    if (s != TZADataStatus::Ok) return s;
  }
  return TZADataStatus::Ok;
}

TZADataStatus Inflate(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job,
                      TZADataOutcome& out) {
  ZStream z;
  if (!z.InitInflate()) return TZADataStatus::InflateError;
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
    const TZADataStatus s = Emit(sink, outBuf.get(), outSize - z->avail_out, job, out);
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
  out.Crc32 ^= 0xFFFFFFFFu;
  if (out.Status == TZADataStatus::Ok && out.Written != job.UncompressedSize) out.Status = TZADataStatus::SizeMismatch;
  if (out.Status == TZADataStatus::Ok && out.Crc32 != job.Crc32) out.Status = TZADataStatus::CrcMismatch;
  return out;
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

}  // namespace ziparchive
