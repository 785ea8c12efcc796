#pragma once
// CRC-32 of entry data (reflected, polynomial 0xEDB88320).
#include <cstddef>
#include <cstdint>

namespace ziparchive {

// Update without preset or final inversion: callers start at 0xFFFFFFFF and store the
// inverted result. A null buffer or a length of 0 or less returns the value unchanged.
uint32_t UpdateCrc32(uint32_t crc, const void* buffer, int32_t length);
void AddCrc32(const void* buffer, int32_t length, uint32_t& crc);
// The same for any length.
uint32_t UpdateCrc32Long(uint32_t crc, const void* buffer, size_t length);

}  // namespace ziparchive
