#include "platform/drives.h"

#include <sys/statvfs.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])) && std::isdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::optional<MountInfo> ParseMountInfoLine(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> f;
  for (std::string w; in >> w;) f.push_back(w);
  // id parent M:m root mountpoint options [optional...] - fstype source superoptions
  size_t dash = 6;
  while (dash < f.size() && f[dash] != "-") ++dash;
  if (dash + 1 >= f.size()) return std::nullopt;
  MountInfo m;
  const auto colon = f[2].find(':');
  if (colon == std::string::npos) return std::nullopt;
  try {
    m.major = static_cast<unsigned>(std::stoul(f[2].substr(0, colon)));
    m.minor = static_cast<unsigned>(std::stoul(f[2].substr(colon + 1)));
  } catch (...) {
    return std::nullopt;
  }
  m.root = Unescape(f[3]);
  m.mountPoint = Unescape(f[4]);
  m.fsType = f[dash + 1];
  m.source = dash + 2 < f.size() ? Unescape(f[dash + 2]) : "";
  return m;
}

namespace {

// Whether the mount point holds the path, component by component.
bool Holds(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return !path.empty() && path[0] == '/';
  if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::string Normalised(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::path(path).lexically_normal();
  fs::path resolved = fs::weakly_canonical(p, ec);
  std::string s = (ec ? p : resolved).string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string ReadWord(const fs::path& file) {
  std::ifstream in(file);
  std::string w;
  in >> w;
  return w;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::vector<MountInfo> Mounts(const SystemRoots& roots) {
  std::vector<MountInfo> mounts;
  std::ifstream in(roots.proc + "/self/mountinfo");
  for (std::string line; std::getline(in, line);)
    if (auto m = ParseMountInfoLine(line)) mounts.push_back(std::move(*m));
  return mounts;
}

std::optional<MountInfo> MountAt(const std::string& mountPoint, const SystemRoots& roots) {
  std::optional<MountInfo> top;
  for (MountInfo& m : Mounts(roots))
    if (m.mountPoint == mountPoint) top = std::move(m);
  return top;
}

std::string SysBlockDevice(unsigned major, unsigned minor, const SystemRoots& roots) {
  std::error_code ec;
  fs::path dev =
      fs::canonical(fs::path(roots.sys) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor)), ec);
  return ec ? std::string() : dev.string();
}

std::string BlockDeviceName(unsigned major, unsigned minor, const SystemRoots& roots) {
  return fs::path(SysBlockDevice(major, minor, roots)).filename().string();
}

std::optional<MountInfo> MountOf(const std::string& path, const SystemRoots& roots) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  const std::string target = Normalised(path);
  std::ifstream in(roots.proc + "/self/mountinfo");
  std::optional<MountInfo> best;
  for (std::string line; std::getline(in, line);) {
    auto m = ParseMountInfoLine(line);
    if (!m || !Holds(m->mountPoint, target)) continue;
    // Deeper wins; at equal depth the later mount covers the earlier one.
    if (!best || m->mountPoint.size() >= best->mountPoint.size()) best = m;
  }
  return best;
}

DriveKind KindOfMount(const MountInfo& m, const SystemRoots& roots) {
  const std::string& t = m.fsType;
  if (t == "tmpfs" || t == "ramfs") return DriveKind::RamDisk;
  if (t == "cifs" || t == "smb3" || t == "smbfs" || t == "nfs" || t == "nfs4" || t == "fuse.sshfs" ||
      t == "sshfs" || t == "fuse.gvfsd-fuse" || t == "9p" || t == "afs" || t == "ceph")
    return DriveKind::Remote;
  if (t == "iso9660" || t == "udf") return DriveKind::CdRom;
  if (m.major == 0) return DriveKind::Fixed;
  const fs::path dev = SysBlockDevice(m.major, m.minor, roots);
  if (dev.empty()) return DriveKind::Fixed;
  std::error_code ec;
  // A partition's removable flag is its disk's.
  fs::path disk = fs::exists(dev / "partition", ec) ? dev.parent_path() : dev;
  const std::string name = disk.filename().string();
  if (StartsWith(name, "sr")) return DriveKind::CdRom;
  if (StartsWith(name, "mmcblk")) return DriveKind::Removable;
  if (ReadWord(disk / "removable") == "1") return DriveKind::Removable;
  return DriveKind::Fixed;
}

DriveKind DriveKindOf(const std::string& path, const SystemRoots& roots) {
  const auto m = MountOf(path, roots);
  return m ? KindOfMount(*m, roots) : DriveKind::NoRoot;
}

std::string RemovableDriveFlag(const std::string& path, const SystemRoots& roots) {
  switch (DriveKindOf(path, roots)) {
    case DriveKind::Removable:
    case DriveKind::CdRom:
    case DriveKind::RamDisk:
      return "1";
    default:
      return "0";
  }
}

std::optional<std::uint64_t> FreeSpace(const std::string& path) {
  struct statvfs st;
  if (path.empty() || statvfs(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

std::int64_t espacedisk(const std::string& path) {
  struct statvfs st;
  if (path.empty() || statvfs(path.c_str(), &st) != 0) return 0;
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize / 1048576u);
}

}  // namespace platform
