#pragma once
// Volume information (label and serial number through libblkid) and the arrival of new
// volumes, seen as new mounts of local block devices in /proc/self/mountinfo.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/drives.h"

namespace platform {

struct VolumeInformation {
  std::string label;
  std::uint32_t serial = 0;
};

// The 32-bit serial number of a volume from its blkid TYPE and UUID: FAT and exFAT
// "ABCD-1234" -> 0xABCD1234, NTFS -> the low 32 bits of its 64-bit serial, any other type ->
// the first 32 bits (eight hex digits) of the UUID. None when the UUID holds too few digits.
std::optional<std::uint32_t> VolumeSerialOf(const std::string& type, const std::string& uuid);

// Label and serial of the file system on a block device or image file; none when it cannot
// be opened or probed, or has no UUID to take the serial from.
std::optional<VolumeInformation> ReadVolumeInformation(const std::string& device);

// Label and serial of a mounted volume: probed on its device, else (a user may not read the
// device) from udev's database of the block device, run/udev/data/bM:m.
std::optional<VolumeInformation> ReadVolumeInformation(const MountInfo& mount, const SystemRoots& roots = {});

// Whether a mount is a removable volume to back up onto: the mount of a whole file system
// (not a bind mount of a folder) on a removable block device (RM bit, SD card), neither a
// loop nor a virtual device; network, optical and RAM file systems never are.
bool IsRemovableVolume(const MountInfo& mount, const SystemRoots& roots = {});

// Whether the file system of that device is still the one on top at that mount point.
bool StillMounted(const std::string& mountPoint, unsigned major, unsigned minor, const SystemRoots& roots = {});

// Watches the mount table. The mounts present at construction are known; NewVolumes() reports
// each removable volume that has gained its first mount since the last call (a device mounted
// twice is one volume, a device that comes back after an unmount is new again).
class MountWatcher {
 public:
  explicit MountWatcher(SystemRoots roots = {});
  ~MountWatcher();
  MountWatcher(const MountWatcher&) = delete;
  MountWatcher& operator=(const MountWatcher&) = delete;

  // Descriptor of mountinfo for poll(POLLPRI); -1 when it could not be opened (callers then
  // rely on a timer alone).
  int Fd() const { return fd_; }
  std::vector<MountInfo> NewVolumes();

 private:
  using Device = std::pair<unsigned, unsigned>;
  std::set<Device> Scan(std::vector<MountInfo>* fresh);

  SystemRoots roots_;
  int fd_ = -1;
  std::set<Device> known_;
};

}  // namespace platform
