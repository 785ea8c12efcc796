#include "platform/volumes.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>

namespace platform {

namespace {

std::string HexDigits(const std::string& uuid) {
  std::string hex;
  for (char c : uuid)
    if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
  return hex;
}

std::string ProbeValue(blkid_probe probe, const char* name) {
  const char* value = nullptr;
  size_t len = 0;
  if (blkid_probe_lookup_value(probe, name, &value, &len) != 0 || !value) return {};
  std::string s(value, len);
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

// udev writes "E:KEY=value" lines; values of labels keep their spaces.
std::string UdevValue(const std::vector<std::string>& lines, const std::string& key) {
  const std::string prefix = "E:" + key + "=";
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size());
  return {};
}

// Whether the device hangs below a USB bus: its /sys/devices path passes a "usbN" folder.
bool UsbAttached(const MountInfo& m, const SystemRoots& roots) {
  for (const auto& part : std::filesystem::path(SysBlockDevice(m.major, m.minor, roots))) {
    const std::string p = part.string();
    if (p.size() > 3 && p.compare(0, 3, "usb") == 0 && std::isdigit(static_cast<unsigned char>(p[3]))) return true;
  }
  return false;
}

std::string UdevUnescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::optional<std::uint32_t> VolumeSerialOf(const std::string& type, const std::string& uuid) {
  const std::string hex = HexDigits(uuid);
  if (hex.size() < 8) return std::nullopt;
  const std::string digits = type == "ntfs" ? hex.substr(hex.size() - 8) : hex.substr(0, 8);
  return static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
}

std::optional<VolumeInformation> ReadVolumeInformation(const std::string& device) {
  std::unique_ptr<blkid_struct_probe, void (*)(blkid_probe)> probe(
      blkid_new_probe_from_filename(device.c_str()), blkid_free_probe);
  if (!probe) return std::nullopt;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
  if (blkid_do_safeprobe(probe.get()) != 0) return std::nullopt;
  const auto serial = VolumeSerialOf(ProbeValue(probe.get(), "TYPE"), ProbeValue(probe.get(), "UUID"));
  if (!serial) return std::nullopt;
  return VolumeInformation{ProbeValue(probe.get(), "LABEL"), *serial};
}

std::optional<VolumeInformation> ReadVolumeInformation(const MountInfo& mount, const SystemRoots& roots) {
  if (!mount.source.empty() && mount.source[0] == '/')
    if (auto info = ReadVolumeInformation(mount.source)) return info;
  std::ifstream in(roots.run + "/udev/data/b" + std::to_string(mount.major) + ":" + std::to_string(mount.minor));
  std::vector<std::string> lines;
  for (std::string line; lines.size() < 512 && std::getline(in, line);) lines.push_back(line);
  const auto serial = VolumeSerialOf(UdevValue(lines, "ID_FS_TYPE"), UdevValue(lines, "ID_FS_UUID"));
  if (!serial) return std::nullopt;
  // ID_FS_LABEL has its blanks and odd bytes replaced; the _ENC form keeps them as \xNN.
  const std::string encoded = UdevValue(lines, "ID_FS_LABEL_ENC");
  return VolumeInformation{encoded.empty() ? UdevValue(lines, "ID_FS_LABEL") : UdevUnescape(encoded), *serial};
}

bool IsRemovableVolume(const MountInfo& m, const SystemRoots& roots) {
  if (m.major == 0 || m.root != "/") return false;
  const std::string name = BlockDeviceName(m.major, m.minor, roots);
  if (name.empty() || name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0) return false;
  switch (KindOfMount(m, roots)) {
    case DriveKind::Removable:
      return true;
    case DriveKind::Fixed:
      return UsbAttached(m, roots);  // a USB hard disk has no RM bit
    default:
      return false;
  }
}

bool StillMounted(const std::string& mountPoint, unsigned major, unsigned minor, const SystemRoots& roots) {
  const auto top = MountAt(mountPoint, roots);
  return top && top->major == major && top->minor == minor;
}

MountWatcher::MountWatcher(SystemRoots roots) : roots_(std::move(roots)) {
  fd_ = ::open((roots_.proc + "/self/mountinfo").c_str(), O_RDONLY | O_CLOEXEC);
  known_ = Scan(nullptr);
}

MountWatcher::~MountWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

std::set<MountWatcher::Device> MountWatcher::Scan(std::vector<MountInfo>* fresh) {
  // Reading the descriptor to its end re-arms POLLPRI for the next change.
  if (fd_ >= 0) {
    char buf[4096];
    ::lseek(fd_, 0, SEEK_SET);
    while (::read(fd_, buf, sizeof buf) > 0) {
    }
  }
  std::set<Device> now;
  for (const MountInfo& m : Mounts(roots_)) {
    if (!IsRemovableVolume(m, roots_)) continue;
    const Device dev{m.major, m.minor};
    if (!now.insert(dev).second) continue;
    if (fresh && !known_.count(dev)) fresh->push_back(m);
  }
  return now;
}

std::vector<MountInfo> MountWatcher::NewVolumes() {
  std::vector<MountInfo> fresh;
  known_ = Scan(&fresh);
  return fresh;
}

}  // namespace platform
