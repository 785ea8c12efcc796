#pragma once
// ZIP directory records: end record, Zip64 end record and locator, central header and the
// extra-field walk. Every record is read and written field by field, little-endian, from a
// byte buffer whose length the caller has checked.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ziparchive {

constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kDataDescriptorSignature = 0x08074b50;

constexpr size_t kEndRecordSize = 22;
constexpr size_t kZip64EndRecordSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kDataDescriptorSize = 16;

// DOS attributes of the external field, and the general-purpose flag of a data descriptor.
constexpr uint32_t kReadOnlyAttribute = 0x01;
constexpr uint32_t kFolderAttribute = 0x10;
constexpr uint32_t kArchiveAttribute = 0x20;
constexpr uint16_t kDescriptorFlag = 0x0008;

constexpr uint16_t kZip64ExtraId = 1;
constexpr uint16_t kSaturated16 = 0xFFFF;
constexpr uint32_t kSaturated32 = 0xFFFFFFFF;

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) { return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32); }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}

struct TZAEndRecord {
  uint32_t Signature = kEndRecordSignature;
  uint16_t ThisVolume = 0;
  uint16_t DirStartVolume = 0;
  uint16_t EntriesOnVolume = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirSize = 0;
  uint32_t DirOffset = 0;
  uint16_t CommentLength = 0;
};

struct TZAZip64EndRecord {
  uint32_t Signature = kZip64EndRecordSignature;
  uint64_t RecordSize = 44;
  uint16_t VersionMadeBy = 45;
  uint16_t VersionNeeded = 45;
  uint32_t ThisVolume = 0;
  uint32_t DirStartVolume = 0;
  uint64_t EntriesOnVolume = 0;
  uint64_t TotalEntries = 0;
  uint64_t DirSize = 0;
  uint64_t DirOffset = 0;
};

struct TZAZip64Locator {
  uint32_t Signature = kZip64LocatorSignature;
  uint32_t Zip64EndVolume = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalVolumes = 1;
};

// The 30 fixed bytes of a local header (read here for stub detection and the rebuild).
struct TZALocalHeader {
  uint32_t Signature = kLocalHeaderSignature;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModTime = 0;
  uint16_t LastModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
};

void DecodeEndRecord(const uint8_t* p, TZAEndRecord& r);
void EncodeEndRecord(const TZAEndRecord& r, uint8_t* p);
void DecodeZip64EndRecord(const uint8_t* p, TZAZip64EndRecord& r);
void EncodeZip64EndRecord(const TZAZip64EndRecord& r, uint8_t* p);
void DecodeZip64Locator(const uint8_t* p, TZAZip64Locator& r);
void EncodeZip64Locator(const TZAZip64Locator& r, uint8_t* p);
void DecodeLocalHeader(const uint8_t* p, TZALocalHeader& h);

// The 46 fixed bytes of a central header, into or out of any record with the field names of
// a directory entry (TDirItem).
template <class H>
void DecodeCentralHeader(const uint8_t* p, H& h) {
  h.Signature = GetU32(p);
  h.VersionMadeBy = GetU16(p + 4);
  h.VersionNeeded = GetU16(p + 6);
  h.Flags = GetU16(p + 8);
  h.CompressionMethod = GetU16(p + 10);
  h.LastModTime = GetU16(p + 12);
  h.LastModDate = GetU16(p + 14);
  h.Crc32 = GetU32(p + 16);
  h.CompressedSize = GetU32(p + 20);
  h.UncompressedSize = GetU32(p + 24);
  h.NameLength = GetU16(p + 28);
  h.ExtraLength = GetU16(p + 30);
  h.CommentLength = GetU16(p + 32);
  h.DiskNumberStart = GetU16(p + 34);
  h.InternalAttributes = GetU16(p + 36);
  h.ExternalAttributes = GetU32(p + 38);
  h.LocalHeaderOffset = GetU32(p + 42);
}

template <class H>
void EncodeCentralHeader(const H& h, uint8_t* p) {
  PutU32(p, h.Signature);
  PutU16(p + 4, h.VersionMadeBy);
  PutU16(p + 6, h.VersionNeeded);
  PutU16(p + 8, h.Flags);
  PutU16(p + 10, h.CompressionMethod);
  PutU16(p + 12, h.LastModTime);
  PutU16(p + 14, h.LastModDate);
  PutU32(p + 16, h.Crc32);
  PutU32(p + 20, h.CompressedSize);
  PutU32(p + 24, h.UncompressedSize);
  PutU16(p + 28, h.NameLength);
  PutU16(p + 30, h.ExtraLength);
  PutU16(p + 32, h.CommentLength);
  PutU16(p + 34, h.DiskNumberStart);
  PutU16(p + 36, h.InternalAttributes);
  PutU32(p + 38, h.ExternalAttributes);
  PutU32(p + 42, h.LocalHeaderOffset);
}

// One extra field as found in an extra area.
struct TZARawExtraField {
  uint16_t HeaderId = 0;
  std::vector<uint8_t> Data;
};

// Splits an extra area into its fields. A field whose data runs past the area is cut to what
// is left; a field header cut short (fewer than 4 bytes left) ends the walk.
std::vector<TZARawExtraField> SplitExtraFields(const uint8_t* p, size_t length);
// The same walk, written back as an area: every data size made true, a header cut short
// dropped. out holds at least length bytes; returns the bytes written.
size_t NormalizeExtraArea(const uint8_t* p, size_t length, uint8_t* out);

// Values of a Zip64 extended-information field, each present only when the matching fixed
// field is saturated and the field still has bytes for it.
struct TZAZip64Values {
  bool HasUncompressedSize = false, HasCompressedSize = false, HasLocalHeaderOffset = false,
       HasDiskNumberStart = false;
  uint64_t UncompressedSize = 0, CompressedSize = 0, LocalHeaderOffset = 0;
  uint32_t DiskNumberStart = 0;
};
TZAZip64Values ParseZip64Field(std::span<const uint8_t> data, bool uncompressedSaturated,
                               bool compressedSaturated, bool offsetSaturated, bool diskSaturated);

// Builds the data of a Zip64 field from the values whose fixed fields are saturated; empty
// when none is.
std::vector<uint8_t> BuildZip64Field(bool uncompressedSaturated, uint64_t uncompressed,
                                     bool compressedSaturated, uint64_t compressed,
                                     bool offsetSaturated, uint64_t offset, bool diskSaturated,
                                     uint32_t disk);

}  // namespace ziparchive
