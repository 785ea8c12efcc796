#pragma once
// The kind of drive that holds a path, from the mount that holds it: /proc/self/mountinfo for
// the mount, /sys/dev/block/M:m for its block device. Roots are injectable for tests.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Numbered as the drive types the rest of the program knows.
enum class DriveKind {
  Unknown = 0,
  NoRoot = 1,     // no mount could be found for the path
  Removable = 2,  // RM bit of the disk, or an MMC/SD card
  Fixed = 3,
  Remote = 4,     // cifs, smb3, nfs, sshfs, gvfs
  CdRom = 5,      // sr* devices, iso9660, udf
  RamDisk = 6,    // tmpfs, ramfs
};

struct SystemRoots {
  std::string proc = "/proc";
  std::string sys = "/sys";
  std::string run = "/run";  // udev's database lies in run/udev/data
};

struct MountInfo {
  std::string root;  // the folder of the file system that the mount shows (a bind mount's source)
  std::string mountPoint;
  std::string fsType;
  std::string source;
  unsigned major = 0;
  unsigned minor = 0;
};

// One line of mountinfo; none when it is not well formed.
std::optional<MountInfo> ParseMountInfoLine(const std::string& line);

// The mount that holds the path: the deepest mount point above it, the last one mounted
// when several share it. A missing path is looked up through its nearest existing parent.
std::optional<MountInfo> MountOf(const std::string& path, const SystemRoots& roots = {});

// Every mount of mountinfo, in its order.
std::vector<MountInfo> Mounts(const SystemRoots& roots = {});

// The mount on top at exactly this mount point; none when nothing is mounted there.
std::optional<MountInfo> MountAt(const std::string& mountPoint, const SystemRoots& roots = {});

// The device's folder under /sys/devices, resolved from /sys/dev/block/M:m; "" when unknown.
std::string SysBlockDevice(unsigned major, unsigned minor, const SystemRoots& roots = {});

// Kernel name of a block device ("sdb1", "mmcblk0p1") from /sys/dev/block/M:m; "" when unknown.
std::string BlockDeviceName(unsigned major, unsigned minor, const SystemRoots& roots = {});

DriveKind DriveKindOf(const std::string& path, const SystemRoots& roots = {});
DriveKind KindOfMount(const MountInfo& mount, const SystemRoots& roots = {});

// "1" for removable, CD-ROM and RAM-disk drives, "0" for everything else.
std::string RemovableDriveFlag(const std::string& path, const SystemRoots& roots = {});

// Bytes free for an unprivileged user on the file system of the path; empty when unknown.
std::optional<std::uint64_t> FreeSpace(const std::string& path);

// Total size of that file system in whole megabytes; 0 when it cannot be read.
std::int64_t espacedisk(const std::string& path);

}  // namespace platform
