#pragma once
// Entry names between their stored bytes and the UTF-8 names the engine works with.
#include <cstdint>
#include <string>
#include <string_view>

namespace ziparchive {

constexpr uint16_t kUtf8NameFlag = 0x0800;  // general purpose flag bit 11
constexpr uint8_t kHostUnix = 3;            // high byte of "version made by"

bool IsValidUtf8(std::string_view bytes);
std::string Cp437ToUtf8(std::string_view bytes);

// Stored name bytes -> Name: cut at the first zero byte; flag bit 11 or (with OEM names) a
// Unix host with a valid UTF-8 name keeps the bytes, otherwise they are CP437; every "\"
// becomes "/". Without OEM names the bytes are already in the system's code page (UTF-8).
std::string DecodeEntryName(std::string_view stored, uint16_t flags, uint16_t versionMadeBy,
                            bool oemFileNames);
// The same into out (its storage reused).
void DecodeEntryNameInto(std::string_view stored, uint16_t flags, uint16_t versionMadeBy, bool oemFileNames,
                         std::string& out);

// Flags to store with Name: bit 11 set when the name is not plain ASCII, cleared otherwise.
uint16_t FlagsForName(uint16_t flags, std::string_view name);
// The same for an entry's directory record: a name that reads back the same without the
// flag (a Unix-made UTF-8 name) keeps the flags it came with.
uint16_t FlagsForStoredName(uint16_t flags, uint16_t versionMadeBy, std::string_view name);

}  // namespace ziparchive
