#pragma once
// Builds ZIP archives record by record for the directory tests, so a test can bend any field.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "updater/ziparchive/zarecords.h"

namespace zipbuilder {

using namespace ziparchive;

inline void put16(std::string& s, uint16_t v) {
  s += char(v & 0xFF);
  s += char(v >> 8);
}
inline void put32(std::string& s, uint32_t v) {
  put16(s, uint16_t(v));
  put16(s, uint16_t(v >> 16));
}
inline void put64(std::string& s, uint64_t v) {
  put32(s, uint32_t(v));
  put32(s, uint32_t(v >> 32));
}
inline uint32_t crcOf(const std::string& data) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}
inline std::string extraField(uint16_t id, const std::string& data) {
  std::string s;
  put16(s, id);
  put16(s, uint16_t(data.size()));
  return s + data;
}

struct Entry {
  std::string name;
  std::string data;          // stored as it stands (method 0)
  uint16_t flags = 0;
  uint16_t madeBy = 0x031E;  // Unix host
  uint32_t attributes = 0x20;
  bool descriptor = false;   // bit 3: zeros in the local header, a data descriptor after the data
  std::string centralExtra;
  std::string comment;
  // Filled by add():
  uint32_t offset = 0;
};

inline Entry fileEntry(const std::string& name, const std::string& data) {
  Entry e;
  e.name = name;
  e.data = data;
  return e;
}

struct EndOptions {
  std::string comment;
  bool zip64 = false;
  // Overrides of the end record's fields (negative: computed).
  int64_t totalEntries = -1, dirSize = -1, dirOffset = -1;
  uint16_t thisVolume = 0, dirStartVolume = 0;
};

class Builder {
 public:
  std::string bytes;  // what has been written so far
  std::vector<Entry> entries;
  std::vector<size_t> centralAt;  // where each central header starts, after finish()

  // Local header and name of an entry (zeros for CRC and sizes with a descriptor).
  static std::string localHeader(const Entry& e) {
    std::string s;
    uint32_t crc = crcOf(e.data);
    put32(s, kLocalHeaderSignature);
    put16(s, 20);
    put16(s, uint16_t(e.flags | (e.descriptor ? 0x0008 : 0)));
    put16(s, 0);
    put16(s, 0x6000);  // 12:00:00
    put16(s, 0x58A6);  // 2024-05-06
    put32(s, e.descriptor ? 0 : crc);
    put32(s, e.descriptor ? 0 : uint32_t(e.data.size()));
    put32(s, e.descriptor ? 0 : uint32_t(e.data.size()));
    put16(s, uint16_t(e.name.size()));
    put16(s, 0);
    return s + e.name;
  }

  // Local header, name, data and (bit 3) descriptor.
  Builder& add(Entry e) {
    e.offset = uint32_t(bytes.size());
    bytes += localHeader(e) + e.data;
    if (e.descriptor) {
      put32(bytes, kDataDescriptorSignature);
      put32(bytes, crcOf(e.data));
      put32(bytes, uint32_t(e.data.size()));
      put32(bytes, uint32_t(e.data.size()));
    }
    entries.push_back(e);
    return *this;
  }

  static std::string centralHeader(const Entry& e) {
    std::string s;
    put32(s, kCentralHeaderSignature);
    put16(s, e.madeBy);
    put16(s, 20);
    put16(s, uint16_t(e.flags | (e.descriptor ? 0x0008 : 0)));
    put16(s, 0);
    put16(s, 0x6000);
    put16(s, 0x58A6);
    put32(s, crcOf(e.data));
    put32(s, uint32_t(e.data.size()));
    put32(s, uint32_t(e.data.size()));
    put16(s, uint16_t(e.name.size()));
    put16(s, uint16_t(e.centralExtra.size()));
    put16(s, uint16_t(e.comment.size()));
    put16(s, 0);
    put16(s, 0);
    put32(s, e.attributes);
    put32(s, e.offset);
    return s + e.name + e.centralExtra + e.comment;
  }

  // Central directory and end records; returns the whole archive.
  std::string finish(const EndOptions& o = {}) {
    const uint64_t start = bytes.size();
    std::string dir;
    centralAt.clear();
    for (const Entry& e : entries) {
      centralAt.push_back(start + dir.size());
      dir += centralHeader(e);
    }
    bytes += dir;
    const uint64_t count = o.totalEntries >= 0 ? uint64_t(o.totalEntries) : entries.size();
    const uint64_t size = o.dirSize >= 0 ? uint64_t(o.dirSize) : dir.size();
    const uint64_t offset = o.dirOffset >= 0 ? uint64_t(o.dirOffset) : start;
    if (o.zip64) {
      const uint64_t recordAt = bytes.size();
      put32(bytes, kZip64EndRecordSignature);
      put64(bytes, 44);
      put16(bytes, 45);
      put16(bytes, 45);
      put32(bytes, o.thisVolume);
      put32(bytes, o.dirStartVolume);
      put64(bytes, count);
      put64(bytes, count);
      put64(bytes, size);
      put64(bytes, offset);
      put32(bytes, kZip64LocatorSignature);
      put32(bytes, o.thisVolume);
      put64(bytes, recordAt);
      put32(bytes, o.thisVolume + 1u);
    }
    put32(bytes, kEndRecordSignature);
    put16(bytes, o.thisVolume);
    put16(bytes, o.dirStartVolume);
    uint16_t count16 = o.zip64 ? 0xFFFF : uint16_t(count);
    put16(bytes, count16);
    put16(bytes, count16);
    put32(bytes, o.zip64 ? 0xFFFFFFFF : uint32_t(size));
    put32(bytes, o.zip64 ? 0xFFFFFFFF : uint32_t(offset));
    put16(bytes, uint16_t(o.comment.size()));
    bytes += o.comment;
    return bytes;
  }
};

// Overwrites a little-endian field of width bytes at position.
inline void patch(std::string& bytes, size_t position, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[position + i] = char(value >> (8 * i));
}

}  // namespace zipbuilder
