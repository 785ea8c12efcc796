#pragma once
// File sizes, folder creation, opening what must be a file, and whole reads, writes and flushes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

// Size in bytes of what the path names (a file or any other entry, links not followed); 0 when
// nothing is there.
std::uint64_t FileSize64(const std::string& path);

// The low 32 bits of that size as a signed number; 0 when nothing is there. For small files.
std::int32_t FileSizeOf(const std::string& path);

// Creates the folder with its missing parents; new folders get the mode. True when the folder
// exists afterwards.
bool MakeDirs(const std::string& path, mode_t mode);

// Closes the descriptor it holds on every way out of a scope; release() hands it on.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() {
    const int f = fd;
    fd = -1;
    return f;
  }
};

// Returned by OpenFileOnly for something else than a file; nothing stays open then.
inline constexpr int kNotAFile = -2;

// Opens path with flags (and mode when it is created) without ever waiting on a FIFO or a
// device: O_NONBLOCK, O_NOCTTY and O_CLOEXEC are added. The descriptor is kept only for a
// regular file, or an entry of the type `alsoAccepted` (S_IFCHR or S_IFDIR); else kNotAFile.
// -1 with errno when it cannot be opened.
int OpenFileOnly(const std::string& path, int flags, mode_t mode = 0, mode_t alsoAccepted = 0);

// Reads or writes exactly count bytes, retrying on EINTR and short transfers. False with errno
// on failure; a read that meets the end first sets errno to 0, a write that makes no progress
// sets ENOSPC. The "At" forms use the offset and leave the file position alone.
bool ReadAll(int fd, void* buffer, std::size_t count);
bool ReadAllAt(int fd, void* buffer, std::size_t count, off_t offset);
bool WriteAll(int fd, const void* buffer, std::size_t count);
bool WriteAllAt(int fd, const void* buffer, std::size_t count, off_t offset);

// Flushes a folder's entries (a creation, rename or removal in it) to the disk; the folder of
// a path for SyncFolderOf. False with errno when it cannot be opened or flushed.
bool SyncFolder(const std::string& folder);
bool SyncFolderOf(const std::string& path);

}  // namespace platform
