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

// Whether a mount is of a local block device that can hold a backup volume.
bool IsLocalVolume(const MountInfo& m, const SystemRoots& roots) {
  if (m.major == 0) return false;
  std::error_code ec;
  const auto dev = std::filesystem::path(roots.sys) / "dev" / "block" /
                   (std::to_string(m.major) + ":" + std::to_string(m.minor));
  if (!std::filesystem::exists(dev, ec)) return false;
  const DriveKind kind = KindOfMount(m, roots);
  return kind == DriveKind::Removable || kind == DriveKind::Fixed;
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

std::vector<MountInfo> ReadMounts(const SystemRoots& roots) {
  std::vector<MountInfo> mounts;
  std::ifstream in(roots.proc + "/self/mountinfo");
  for (std::string line; std::getline(in, line);)
    if (auto m = ParseMountInfoLine(line)) mounts.push_back(*m);
  return mounts;
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
  for (const MountInfo& m : ReadMounts(roots_)) {
    if (!IsLocalVolume(m, roots_)) continue;
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
