#pragma once
// File sizes and folder creation.
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform {

// Size in bytes of what the path names (a file or any other entry, links not followed); 0 when
// nothing is there.
std::uint64_t FileSize64(const std::string& path);

// The low 32 bits of that size as a signed number; 0 when nothing is there. For small files.
std::int32_t FileSizeOf(const std::string& path);

// Creates the folder with its missing parents; new folders get the mode. True when the folder
// exists afterwards.
bool MakeDirs(const std::string& path, mode_t mode);

}  // namespace platform
