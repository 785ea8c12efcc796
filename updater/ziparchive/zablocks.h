#pragma once
// The block format: the data of an entry whose method is neither stored nor deflate, laid out
// as a 50-byte header and length-prefixed blocks, each a zlib stream or stored.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "updater/ziparchive/zaentrydata.h"

namespace ziparchive {

constexpr size_t kBlockHeaderSize = 50;
constexpr uint16_t kBlockNotEnciphered = 0xFFFF;
// A block larger than this, packed or unpacked, is taken for damage.
constexpr uint32_t kMaxBlockSize = 64u << 20;

struct TZABlockHeader {
  uint32_t BlockSize = 0;   // uncompressed size of every block but the last
  uint32_t TotalSize = 0;   // uncompressed size of the entry (low 32 bits)
  uint32_t BlockCount = 0;
  uint8_t Algorithm = 0;    // 0: zlib stream
  bool Compressed = false;  // else stored
  uint16_t CipherId = kBlockNotEnciphered;
  uint32_t CheckCrc = 0;    // CRC-32 of the check bytes once deciphered
  uint8_t Check[16] = {};
};

void DecodeBlockHeader(const uint8_t* p, TZABlockHeader& h);
void EncodeBlockHeader(const TZABlockHeader& h, uint8_t* p);

// Inflates one zlib-wrapped block whose output size is known: out gets at most outLength bytes
// and outLength the bytes it got. False for an empty input, an algorithm other than 0, an
// error of zlib, or a stream that does not end within outLength bytes.
bool InflateWholeBlock(uint8_t algorithm, const uint8_t* in, size_t inLength, size_t& outLength,
                       std::vector<uint8_t>& out);

// Decides, once the header is read, whether the blocks may be read: the check bytes of an
// enciphered entry and the password prompt. False stops with Unreadable.
using TZABlockCheck = std::function<bool(const TZABlockHeader&)>;

// Reads the header and the blocks of an entry from the source (job.CompressedSize bytes at
// most) and writes the content to the sink, checking size and CRC-32 as DecodeEntryData does.
// The last block's size comes from the header, or from job.UncompressedSize when that is a
// Zip64 size.
TZADataOutcome DecodeBlockData(TZADataSource& source, TZADataSink& sink, const TZAInflateJob& job,
                               bool zip64Size, const TZABlockCheck& check);

}  // namespace ziparchive
