#pragma once
// Kind of the drive (mount) that holds a path, from mountinfo and the block devices in sysfs.
#include <string>
#include <string_view>

namespace ziparchive {

enum class TZADriveKind { Unknown, Removable, Fixed, Remote, CDRom, RamDisk };

// The mount that holds an absolute path: the longest mount point that is a prefix of it.
TZADriveKind DriveKindOf(std::string_view path);

// Where the queries read; empty strings restore /proc/self/mountinfo and /sys.
void SetDriveQueryRoots(const std::string& mountinfo, const std::string& sysRoot);

}  // namespace ziparchive
