#include "updater/ziparchive/zablocks.h"

#include <zlib.h>

#include <algorithm>

#include "updater/ziparchive/zacrypt.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

void DecodeBlockHeader(const uint8_t* p, TZABlockHeader& h) {
  h.BlockSize = GetU32(p);
  h.TotalSize = GetU32(p + 8);
  h.BlockCount = GetU32(p + 16);
  h.Algorithm = p[20];
  h.Compressed = p[21] != 0;
  h.CipherId = GetU16(p + 22);
  h.CheckCrc = GetU32(p + 24);
  std::copy(p + 28, p + 44, h.Check);
}

void EncodeBlockHeader(const TZABlockHeader& h, uint8_t* p) {
  std::fill(p, p + kBlockHeaderSize, uint8_t{0});
  PutU32(p, h.BlockSize);
  PutU32(p + 8, h.TotalSize);
  PutU32(p + 16, h.BlockCount);
  p[20] = h.Algorithm;
  p[21] = h.Compressed ? 1 : 0;
  PutU16(p + 22, h.CipherId);
  PutU32(p + 24, h.CheckCrc);
  std::copy(h.Check, h.Check + 16, p + 28);
}

bool InflateWholeBlock(uint8_t algorithm, const uint8_t* in, size_t inLength, size_t& outLength,
                       std::vector<uint8_t>& out) {
  if (inLength == 0 || algorithm != 0) return false;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(inLength);
  // One byte past the expected size tells a stream that runs on. The buffer grows with the
  // output instead of taking the size a damaged header claims at once.
  const size_t limit = outLength + 1;
  out.resize(std::min(limit, std::max<size_t>(inLength * 4, 65536)));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int ret;
  for (;;) {
    ret = inflate(&z, Z_FINISH);
    if (ret == Z_STREAM_END || (ret != Z_OK && ret != Z_BUF_ERROR)) break;
    if (z.avail_out != 0 || out.size() >= limit) break;  // input used up, or past the size
    const size_t used = out.size();
    out.resize(std::min(limit, used * 2));
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(out.size() - used);
  }
  const size_t produced = static_cast<size_t>(z.total_out);
  inflateEnd(&z);
  if (ret != Z_STREAM_END || produced > outLength) return false;
  outLength = produced;
  out.resize(produced);
  return true;
}

namespace {

// What one block gives: compressed blocks through InflateWholeBlock, stored ones as read.
bool ExpandBlock(const TZABlockHeader& h, std::vector<uint8_t>& block, size_t expected, std::vector<uint8_t>& out) {
  if (!h.Compressed) {
    out.swap(block);
    return true;
  }
  return InflateWholeBlock(h.Algorithm, block.data(), block.size(), expected, out);
}

// The block deciphering hook (it takes no key).
void DecipherBlockData(const TZABlockHeader& h, std::vector<uint8_t>& block) {
  if (h.CipherId != kBlockNotEnciphered) {
    DecipherBlock(static_cast<uint8_t>(h.CipherId), block.data(), block.size(), std::string());
  }
}

TZADataStatus DecompressBlocks(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job, bool zip64Size,
                               const TZABlockCheck& check, TZADataOutcome& out) {
  auto take = [&](void* buffer, int64_t count) {
    if (count > job.CompressedSize - out.Read) return false;
    if (count == 0) return true;
    const int64_t n = source.ReadData(buffer, count);
    out.Read += std::max<int64_t>(n, 0);
    return n == count;
  };
  uint8_t raw[kBlockHeaderSize];
  if (!take(raw, kBlockHeaderSize)) return TZADataStatus::ReadShort;
  TZABlockHeader h;
  DecodeBlockHeader(raw, h);
  // Data of another method (bzip2, LZMA, AES...) is no block header: it fails here, before any
  // password is asked for.
  if (!zip64Size && h.TotalSize != static_cast<uint64_t>(job.UncompressedSize)) return TZADataStatus::SizeMismatch;
  if (h.Compressed && h.Algorithm != 0) return TZADataStatus::UnsupportedMethod;
  if (check && !check(h)) return TZADataStatus::Unreadable;
  const uint64_t total = zip64Size ? static_cast<uint64_t>(job.UncompressedSize) : h.TotalSize;
  std::vector<uint8_t> block, expanded;
  for (uint32_t i = 0; i < h.BlockCount; ++i) {
    if (job.Progress != nullptr && *job.Progress && !(*job.Progress)(out.Read, job.CompressedSize)) {
      return TZADataStatus::Cancelled;
    }
    uint8_t length[4];
    if (!take(length, 4)) return TZADataStatus::ReadShort;
    const uint32_t n = GetU32(length);
    if (n > kMaxBlockSize) return TZADataStatus::InflateError;
    const bool last = i + 1 == h.BlockCount;
    const uint64_t done = static_cast<uint64_t>(out.Written);
    if (last && total < done) return TZADataStatus::SizeMismatch;
    const uint64_t expected = last ? total - done : h.BlockSize;
    // Never more than the entry declares, nor a block beyond the limit.
    if (done + expected > static_cast<uint64_t>(job.UncompressedSize)) return TZADataStatus::TooLong;
    if (expected > kMaxBlockSize) return TZADataStatus::InflateError;
    if (n > job.CompressedSize - out.Read) return TZADataStatus::ReadShort;
    block.resize(n);
    if (!take(block.data(), n)) return TZADataStatus::ReadShort;
    DecipherBlockData(h, block);
    if (!ExpandBlock(h, block, static_cast<size_t>(expected), expanded)) return TZADataStatus::InflateError;
    const TZADataStatus s = EmitDecoded(sink, expanded.data(), expanded.size(), job, out);
    if (s != TZADataStatus::Ok) return s;
  }
  return TZADataStatus::Ok;
}

}  // namespace

TZADataOutcome DecodeBlockData(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job, bool zip64Size,
                               const TZABlockCheck& check) {
  TZADataOutcome out;
  out.Crc32 = 0xFFFFFFFFu;
  out.Status = job.CompressedSize < 0 || job.UncompressedSize < 0
                   ? TZADataStatus::BadRange
                   : DecompressBlocks(source, sink, job, zip64Size, check, out);
  return FinishDecoded(job, out);
}

}  // namespace ziparchive
