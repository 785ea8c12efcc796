#pragma once
// Traditional ZIP encryption: three 32-bit keys driven by the plain bytes, and the 12-byte
// header in front of an entry's data.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ziparchive {

struct TZACryptKeys {
  uint32_t Key0 = 0x12345678;
  uint32_t Key1 = 0x23456789;
  uint32_t Key2 = 0x34567890;
};

constexpr size_t kCryptHeaderSize = 12;

uint32_t ZipCryptCrcStep(uint8_t byte, uint32_t value);
void ZipCryptUpdateKeys(uint8_t plain, TZACryptKeys& keys);
uint8_t ZipCryptStreamByte(const TZACryptKeys& keys);
uint8_t ZipCryptEncodeByte(uint8_t plain, TZACryptKeys& keys);
void ZipCryptDecodeBuffer(uint8_t* buffer, size_t length, TZACryptKeys& keys);
// Enciphers buffer[start .. start + count - 1] in place.
void ZipCryptEncodeRange(size_t count, size_t start, uint8_t* buffer, TZACryptKeys& keys);
// The initial keys, updated with each password byte as it stands.
void ZipCryptInitKeys(const std::string& password, TZACryptKeys& keys);
// Keys from the password, then the 12 header bytes deciphered in place; the keys then stand
// at the first data byte.
void ZipCryptInitAndCheckHeader(const std::string& password, TZACryptKeys& keys, uint8_t* header);

// Fills buffer with bytes of the kernel's random source; false when it cannot be had.
bool ZipCryptRandomBytes(uint8_t* buffer, size_t length);
// The enciphered header of an entry written with password: ten random bytes, then bits 16-23
// and 24-31 of the entry's CRC-32. The keys then stand at the first data byte. False when no
// random bytes could be had (the header is then not made).
bool ZipCryptMakeHeader(const std::string& password, uint32_t crc32, TZACryptKeys& keys, uint8_t* header);

// The byte the deciphered header ends with: the CRC's high byte, or the DOS time's when the
// sizes and CRC follow the data (flag bit 3).
uint8_t ZipCryptCheckByte(uint32_t crc32, uint16_t dosTime, uint16_t flags);
// Deciphers a copy of the header read from the archive; true when the password fits.
bool CheckItemPassword(const uint8_t* header, const std::string& password, TZACryptKeys& keys, uint32_t crc32,
                       uint16_t dosTime, uint16_t flags);

// The block format's and enciphered names' hooks: they change nothing and return false.
bool EncipherBlock(uint8_t algorithm, uint8_t* buffer, size_t length, const std::string& key);
bool DecipherBlock(uint8_t algorithm, uint8_t* buffer, size_t length, const std::string& key);

}  // namespace ziparchive
