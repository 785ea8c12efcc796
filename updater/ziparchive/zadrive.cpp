#include "updater/ziparchive/zadrive.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace ziparchive {

namespace {

std::string mountinfoPath = "/proc/self/mountinfo";
std::string sysRootPath = "/sys";

// Mount points escape blanks, tabs, newlines and backslashes as octal.
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool coversPath(const std::string& mountPoint, std::string_view path) {
  if (mountPoint == "/") return true;
  if (path.size() < mountPoint.size() || path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::string readFirstLine(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  return line;
}

TZADriveKind blockDeviceKind(const std::string& majorMinor) {
  std::error_code ec;
  std::filesystem::path dev = std::filesystem::canonical(std::filesystem::path(sysRootPath) / "dev/block" / majorMinor, ec);
  if (ec) return TZADriveKind::Fixed;
  std::string name = dev.filename().string();
  if (name.rfind("sr", 0) == 0) return TZADriveKind::CDRom;
  if (name.rfind("mmcblk", 0) == 0) return TZADriveKind::Removable;
  for (const auto& dir : {dev, dev.parent_path()}) {
    if (std::filesystem::exists(dir / "removable", ec)) {
      return readFirstLine(dir / "removable") == "1" ? TZADriveKind::Removable : TZADriveKind::Fixed;
    }
  }
  return TZADriveKind::Fixed;
}

}  // namespace

void SetDriveQueryRoots(const std::string& mountinfo, const std::string& sysRoot) {
  mountinfoPath = mountinfo.empty() ? "/proc/self/mountinfo" : mountinfo;
  sysRootPath = sysRoot.empty() ? "/sys" : sysRoot;
}

TZADriveKind DriveKindOf(std::string_view path) {
  std::ifstream in(mountinfoPath);
  if (!in || path.empty() || path[0] != '/') return TZADriveKind::Unknown;
  std::string best, bestDevice, bestType;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint;
    if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
    std::string word, type;
    while (fields >> word && word != "-") {}
    fields >> type;
    mountPoint = unescape(mountPoint);
    if (coversPath(mountPoint, path) && mountPoint.size() >= best.size()) {
      best = mountPoint;
      bestDevice = device;
      bestType = type;
    }
  }
  if (best.empty()) return TZADriveKind::Unknown;
  static const std::vector<std::string> remote = {"cifs", "smb3", "smbfs", "nfs", "nfs4", "fuse.sshfs", "sshfs", "fuse.gvfsd-fuse", "9p", "afs"};
  for (const auto& t : remote) {
    if (bestType == t) return TZADriveKind::Remote;
  }
  if (bestType == "tmpfs" || bestType == "ramfs") return TZADriveKind::RamDisk;
  if (bestType == "iso9660" || bestType == "udf") return TZADriveKind::CDRom;
  return blockDeviceKind(bestDevice);
}

}  // namespace ziparchive
