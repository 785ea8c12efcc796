#include "updater/ziparchive/zacrypt.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace ziparchive {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t ZipCryptCrcStep(uint8_t byte, uint32_t value) { return kTable[(value ^ byte) & 0xFF] ^ (value >> 8); }

void ZipCryptUpdateKeys(uint8_t plain, TZACryptKeys& keys) {
  keys.Key0 = ZipCryptCrcStep(plain, keys.Key0);
  keys.Key1 = (keys.Key1 + (keys.Key0 & 0xFF)) * 134775813u + 1;
  keys.Key2 = ZipCryptCrcStep(static_cast<uint8_t>(keys.Key1 >> 24), keys.Key2);
}

uint8_t ZipCryptStreamByte(const TZACryptKeys& keys) {
  const uint32_t t = (keys.Key2 | 2) & 0xFFFF;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

uint8_t ZipCryptEncodeByte(uint8_t plain, TZACryptKeys& keys) {
  const uint8_t c = plain ^ ZipCryptStreamByte(keys);
  ZipCryptUpdateKeys(plain, keys);
  return c;
}

void ZipCryptDecodeBuffer(uint8_t* buffer, size_t length, TZACryptKeys& keys) {
  for (size_t i = 0; i < length; ++i) {
    buffer[i] ^= ZipCryptStreamByte(keys);
    ZipCryptUpdateKeys(buffer[i], keys);
  }
}

void ZipCryptEncodeRange(size_t count, size_t start, uint8_t* buffer, TZACryptKeys& keys) {
  for (size_t i = start; i < start + count; ++i) buffer[i] = ZipCryptEncodeByte(buffer[i], keys);
}

void ZipCryptInitKeys(const std::string& password, TZACryptKeys& keys) {
  keys = TZACryptKeys{};
  for (char c : password) ZipCryptUpdateKeys(static_cast<uint8_t>(c), keys);
}

void ZipCryptInitAndCheckHeader(const std::string& password, TZACryptKeys& keys, uint8_t* header) {
  ZipCryptInitKeys(password, keys);
  ZipCryptDecodeBuffer(header, kCryptHeaderSize, keys);
}

bool ZipCryptRandomBytes(uint8_t* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::getrandom(buffer + done, length - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ZipCryptMakeHeader(const std::string& password, uint32_t crc32, TZACryptKeys& keys, uint8_t* header) {
  // Fresh random bytes for every entry: two entries never share a keystream.
  if (!ZipCryptRandomBytes(header, kCryptHeaderSize - 2)) return false;
  header[kCryptHeaderSize - 2] = static_cast<uint8_t>(crc32 >> 16);
  header[kCryptHeaderSize - 1] = static_cast<uint8_t>(crc32 >> 24);
  ZipCryptInitKeys(password, keys);
  ZipCryptEncodeRange(kCryptHeaderSize, 0, header, keys);
  return true;
}

uint8_t ZipCryptCheckByte(uint32_t crc32, uint16_t dosTime, uint16_t flags) {
  return (flags & 8) ? static_cast<uint8_t>(dosTime >> 8) : static_cast<uint8_t>(crc32 >> 24);
}

bool CheckItemPassword(const uint8_t* header, const std::string& password, TZACryptKeys& keys, uint32_t crc32,
                       uint16_t dosTime, uint16_t flags) {
  uint8_t plain[kCryptHeaderSize];
  std::memcpy(plain, header, kCryptHeaderSize);
  ZipCryptInitAndCheckHeader(password, keys, plain);
  return plain[kCryptHeaderSize - 1] == ZipCryptCheckByte(crc32, dosTime, flags);
}

bool EncipherBlock(uint8_t, uint8_t*, size_t, const std::string&) { return false; }
bool DecipherBlock(uint8_t, uint8_t*, size_t, const std::string&) { return false; }

}  // namespace ziparchive
