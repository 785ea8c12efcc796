#include "updater/ziparchive/zarecords.h"

#include <algorithm>
#include <cstring>

namespace ziparchive {

void DecodeEndRecord(const uint8_t* p, TZAEndRecord& r) {
  r.Signature = GetU32(p);
  r.ThisVolume = GetU16(p + 4);
  r.DirStartVolume = GetU16(p + 6);
  r.EntriesOnVolume = GetU16(p + 8);
  r.TotalEntries = GetU16(p + 10);
  r.DirSize = GetU32(p + 12);
  r.DirOffset = GetU32(p + 16);
  r.CommentLength = GetU16(p + 20);
}

void EncodeEndRecord(const TZAEndRecord& r, uint8_t* p) {
  PutU32(p, r.Signature);
  PutU16(p + 4, r.ThisVolume);
  PutU16(p + 6, r.DirStartVolume);
  PutU16(p + 8, r.EntriesOnVolume);
  PutU16(p + 10, r.TotalEntries);
  PutU32(p + 12, r.DirSize);
  PutU32(p + 16, r.DirOffset);
  PutU16(p + 20, r.CommentLength);
}

void DecodeZip64EndRecord(const uint8_t* p, TZAZip64EndRecord& r) {
  r.Signature = GetU32(p);
  r.RecordSize = GetU64(p + 4);
  r.VersionMadeBy = GetU16(p + 12);
  r.VersionNeeded = GetU16(p + 14);
  r.ThisVolume = GetU32(p + 16);
  r.DirStartVolume = GetU32(p + 20);
  r.EntriesOnVolume = GetU64(p + 24);
  r.TotalEntries = GetU64(p + 32);
  r.DirSize = GetU64(p + 40);
  r.DirOffset = GetU64(p + 48);
}

void EncodeZip64EndRecord(const TZAZip64EndRecord& r, uint8_t* p) {
  PutU32(p, r.Signature);
  PutU64(p + 4, r.RecordSize);
  PutU16(p + 12, r.VersionMadeBy);
  PutU16(p + 14, r.VersionNeeded);
  PutU32(p + 16, r.ThisVolume);
  PutU32(p + 20, r.DirStartVolume);
  PutU64(p + 24, r.EntriesOnVolume);
  PutU64(p + 32, r.TotalEntries);
  PutU64(p + 40, r.DirSize);
  PutU64(p + 48, r.DirOffset);
}

void DecodeZip64Locator(const uint8_t* p, TZAZip64Locator& r) {
  r.Signature = GetU32(p);
  r.Zip64EndVolume = GetU32(p + 4);
  r.Zip64EndOffset = GetU64(p + 8);
  r.TotalVolumes = GetU32(p + 16);
}

void EncodeZip64Locator(const TZAZip64Locator& r, uint8_t* p) {
  PutU32(p, r.Signature);
  PutU32(p + 4, r.Zip64EndVolume);
  PutU64(p + 8, r.Zip64EndOffset);
  PutU32(p + 16, r.TotalVolumes);
}

void DecodeLocalHeader(const uint8_t* p, TZALocalHeader& h) {
  h.Signature = GetU32(p);
  h.VersionNeeded = GetU16(p + 4);
  h.Flags = GetU16(p + 6);
  h.CompressionMethod = GetU16(p + 8);
  h.LastModTime = GetU16(p + 10);
  h.LastModDate = GetU16(p + 12);
  h.Crc32 = GetU32(p + 14);
  h.CompressedSize = GetU32(p + 18);
  h.UncompressedSize = GetU32(p + 22);
  h.NameLength = GetU16(p + 26);
  h.ExtraLength = GetU16(p + 28);
}

std::vector<TZARawExtraField> SplitExtraFields(const uint8_t* p, size_t length) {
  std::vector<TZARawExtraField> fields;
  size_t pos = 0;
  while (length - pos >= 4) {
    TZARawExtraField f;
    f.HeaderId = GetU16(p + pos);
    size_t size = GetU16(p + pos + 2);
    pos += 4;
    if (size > length - pos) size = length - pos;
    f.Data.assign(p + pos, p + pos + size);
    pos += size;
    fields.push_back(std::move(f));
  }
  return fields;
}

size_t NormalizeExtraArea(const uint8_t* p, size_t length, uint8_t* out) {
  size_t pos = 0, written = 0;
  while (length - pos >= 4) {
    uint16_t id = GetU16(p + pos);
    size_t size = std::min<size_t>(GetU16(p + pos + 2), length - pos - 4);
    PutU16(out + written, id);
    PutU16(out + written + 2, uint16_t(size));
    std::memcpy(out + written + 4, p + pos + 4, size);
    pos += 4 + size;
    written += 4 + size;
  }
  return written;
}

TZAZip64Values ParseZip64Field(std::span<const uint8_t> data, bool uncompressedSaturated,
                               bool compressedSaturated, bool offsetSaturated, bool diskSaturated) {
  TZAZip64Values v;
  size_t pos = 0;
  auto take64 = [&](bool wanted, bool& has, uint64_t& value) {
    if (!wanted || data.size() - pos < 8) return;
    value = GetU64(data.data() + pos);
    has = true;
    pos += 8;
  };
  take64(uncompressedSaturated, v.HasUncompressedSize, v.UncompressedSize);
  take64(compressedSaturated, v.HasCompressedSize, v.CompressedSize);
  take64(offsetSaturated, v.HasLocalHeaderOffset, v.LocalHeaderOffset);
  if (diskSaturated && data.size() - pos >= 4) {
    v.DiskNumberStart = GetU32(data.data() + pos);
    v.HasDiskNumberStart = true;
  }
  return v;
}

std::vector<uint8_t> BuildZip64Field(bool uncompressedSaturated, uint64_t uncompressed,
                                     bool compressedSaturated, uint64_t compressed,
                                     bool offsetSaturated, uint64_t offset, bool diskSaturated,
                                     uint32_t disk) {
  std::vector<uint8_t> data;
  auto put64 = [&](uint64_t value) {
    size_t at = data.size();
    data.resize(at + 8);
    PutU64(data.data() + at, value);
  };
  if (uncompressedSaturated) put64(uncompressed);
  if (compressedSaturated) put64(compressed);
  if (offsetSaturated) put64(offset);
  if (diskSaturated) {
    size_t at = data.size();
    data.resize(at + 4);
    PutU32(data.data() + at, disk);
  }
  return data;
}

}  // namespace ziparchive
