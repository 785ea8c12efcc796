#pragma once
// Replacing a file whole: the bytes go to a temp file in the same folder, are flushed to disk
// and renamed over the target, so readers see the old file or the new one, never a part.
#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace platform {

// False on any failure (errno tells why); the old file, if any, is then left untouched and the
// temp file removed. The new file gets `mode` whatever the process umask.
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

}  // namespace platform
