#pragma once
// Identity of a USB volume and the timetable entries that name it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// mount point + ":-Quillomet-", then label + " - " + serial in unsigned decimal when the
// volume information could be read. A "|" or a control character in the label (it would break
// the timetable line) is stored as "_".
std::string UsbVolumeId(std::string_view mountPoint, const std::optional<std::string>& label,
                        std::optional<std::uint32_t> serial);

// The part that names the volume whatever its mount point: ":-Quillomet-" onwards; empty
// when the text holds no identity.
std::string_view UsbVolumeKey(std::string_view identity);

// The short form, made when the volume could not be read: it names no volume.
bool UsbIdentityShort(std::string_view identity);

// Whether the mount point can stand in a timetable field (no "|", no line break).
bool UsbMountPointStorable(std::string_view mountPoint);

// The known identities sorted without regard to ASCII letter case; of texts that compare
// equal, the first one stays.
std::vector<std::string> DeleteDoublets(std::vector<std::string> items);

// A removable volume as it arrived: what the prompt and the safe removal need of it.
struct UsbVolume {
  std::string identity;
  std::string mountPoint;
  std::string label;
  std::string device;  // kernel name of its block device ("sdb1")
  unsigned major = 0, minor = 0;
};

struct UsbArrival {
  std::vector<std::string> jobs;  // prompt job lines, in timetable order
  std::string error;              // "Impossible de créer " + folder; jobs hold the lines before it
};

// The jobs of a volume that has arrived with `identity` at `mountPoint`: every timetable line
// whose target names the same volume (the same key, compared whole) gives
// source|folder|filter|sub-folders, the folder being the source's last name on this mount
// point, created (one level) when missing, and only while `stillMounted` says the volume is
// there. Line 0 of the file is skipped like any line without a target. The short identity
// matches no line.
UsbArrival UsbArrivalJobs(const std::vector<std::string>& lines, std::string_view identity,
                          std::string_view mountPoint, const std::function<bool()>& stillMounted);

}  // namespace core
