#include "updater/ziparchive/zapaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <vector>


namespace ziparchive {

namespace {

platform::SystemRoots driveRoots;

bool hasDriveLetter(std::string_view p) {
  return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

bool isDotName(std::string_view s) { return s == "." || s == ".."; }

// "//server/share..." with a real server and share name (never "." or "..").
bool isShareName(std::string_view p) {
  if (p.size() < 3 || !IsPathSeparator(p[0]) || !IsPathSeparator(p[1]) || IsPathSeparator(p[2])) return false;
  size_t server = p.find_first_of("/\\", 2);
  if (isDotName(p.substr(2, server == std::string_view::npos ? std::string_view::npos : server - 2))) return false;
  if (server == std::string_view::npos) return true;
  size_t share = p.find_first_of("/\\", server + 1);
  std::string_view name = p.substr(server + 1, share == std::string_view::npos ? std::string_view::npos : share - server - 1);
  return !name.empty() && !isDotName(name);
}

std::string currentFolder() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

// Splits a "/"-only path into its root ("/", "X:" or "//server/share") and the rest.
void splitRoot(const std::string& p, std::string& root, std::string& rest) {
  if (hasDriveLetter(p)) {
    root = p.substr(0, 2);
    rest = p.substr(2);
  } else if (isShareName(p)) {
    size_t server = p.find('/', 2);
    size_t share = server == std::string::npos ? std::string::npos : p.find('/', server + 1);
    root = p.substr(0, share);
    rest = share == std::string::npos ? std::string() : p.substr(share);
  } else if (!p.empty() && p[0] == '/') {
    root.assign(1, '/');
    rest = p.substr(1);
  } else {
    root.clear();
    rest = p;
  }
}

}  // namespace

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

std::string ToSlashes(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string DrivePart(std::string_view path) {
  std::string p = ToSlashes(path);
  if (!hasDriveLetter(p) && !isShareName(p)) return {};
  std::string root, rest;
  splitRoot(p, root, rest);
  return root;
}

std::string AddSlash(std::string_view path) {
  std::string out(path);
  if (out.empty() || !IsPathSeparator(out.back())) out += '/';
  return out;
}

std::string RemoveSlash(std::string_view path) {
  std::string out(path);
  if (!out.empty() && IsPathSeparator(out.back())) out.pop_back();
  return out;
}

bool DirExists(const std::string& path) {
  std::string p = ToSlashes(path);
  if (p.empty() || hasDriveLetter(p) || isShareName(p)) return false;  // no drives here; shares are never local
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirs(const std::string& path, bool* made) {
  if (made != nullptr) *made = false;
  std::string p = ToSlashes(path);
  if (p.empty() || hasDriveLetter(p) || isShareName(p)) return false;
  std::error_code ec;
  const bool created = std::filesystem::create_directories(p, ec);
  if (made != nullptr) *made = created && !ec;
  return DirExists(p);
}

bool IsFloppyDrive(std::string_view path) {
  std::string drive = DrivePart(path);
  if (drive.size() != 2) return false;
  char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
  return letter == 'A' || letter == 'B';
}

bool IsRemovableDrive(std::string_view path) {
  if (IsFloppyDrive(path)) return true;
  if (!DrivePart(path).empty()) return false;
  return platform::DriveKindOf(FullPathOf(path, ""), driveRoots) == platform::DriveKind::Removable;
}

void SetDriveQueryRoots(const platform::SystemRoots& roots) { driveRoots = roots; }

namespace {
bool IsSwappable(const platform::MountInfo& m) {
  const platform::DriveKind kind = platform::KindOfMount(m, driveRoots);
  return kind == platform::DriveKind::Removable || kind == platform::DriveKind::CdRom;
}
}  // namespace

std::optional<platform::MountInfo> RemovableMountOf(std::string_view path) {
  if (!DrivePart(path).empty()) return std::nullopt;
  auto m = platform::MountOf(FullPathOf(path, ""), driveRoots);
  if (!m || !IsSwappable(*m)) return std::nullopt;
  return m;
}

std::vector<platform::MountInfo> RemovableMounts() {
  std::vector<platform::MountInfo> media;
  for (platform::MountInfo& m : platform::Mounts(driveRoots)) {
    if (IsSwappable(m)) media.push_back(std::move(m));
  }
  return media;
}

std::string FullPathOf(std::string_view name, std::string_view folder) {
  std::string p = ToSlashes(name);
  std::string root, rest;
  splitRoot(p, root, rest);
  if (root.empty()) {
    std::string base = folder.empty() ? currentFolder() : ToSlashes(folder);
    if (DrivePart(base).empty() && (base.empty() || base[0] != '/')) base = FullPathOf(base, "");
    if (base.empty() || base.back() != '/') base += '/';
    splitRoot(base + p, root, rest);
  }
  std::vector<std::string> segments;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = rest.find('/', i);
    if (j == std::string::npos) j = rest.size();
    std::string seg = rest.substr(i, j - i);
    if (seg == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segments.push_back(seg);
    }
    i = j + 1;
  }
  std::string out = root;
  if (root.size() == 2 && hasDriveLetter(root)) out += '/';  // "X:" becomes "X:/"
  for (size_t k = 0; k < segments.size(); ++k) {
    if (!out.empty() && out.back() != '/') out += '/';
    out += segments[k];
  }
  return out;
}

std::string ExpandAgainstBaseDir(std::string_view folder) {
  return AddSlash(folder.empty() ? std::string_view(currentFolder()) : folder);
}

std::string ExpandWithBaseDir(std::string_view baseDir, std::string_view name) {
  std::string dir = baseDir.empty() ? currentFolder() : std::string(baseDir);
  if (!name.empty()) return FullPathOf(name, dir);
  if (hasDriveLetter(baseDir)) return std::string(baseDir);
  std::string full = FullPathOf(dir, "");
  if (baseDir.empty() || DirExists(full)) return full;
  return std::string(baseDir);
}

std::string StoredPathFor(std::string_view fileName, std::string_view baseDir, TZAStorePathMode mode) {
  std::string base = ExpandWithBaseDir(baseDir, "");
  std::string full = ExpandWithBaseDir(base, fileName);
  if (!full.empty() && IsPathSeparator(full.back())) full.pop_back();
  if (full == "." || (full.size() >= 2 && full.back() == '.' && IsPathSeparator(full[full.size() - 2]))) full.pop_back();

  // A tail of the full path keeps no drive or share: a ":" in it is part of a name.
  bool tail = false;
  switch (mode) {
    case spNoPath: {
      size_t cut = full.find_last_of("/\\");
      if (cut == std::string::npos && hasDriveLetter(full)) cut = 1;
      if (cut != std::string::npos) full = full.substr(cut + 1);
      tail = true;
      break;
    }
    case spRelativePath: {
      std::string from = AddSlash(FullPathOf(base, ""));
      if (full.size() > from.size() && full.compare(0, from.size(), from) == 0) {
        full = full.substr(from.size());
        tail = true;
      }
      break;
    }
    case spFullPath:
      break;
    case spFullPathWithDrive:
      full = FullPathOf(full, "");
      break;
  }

  size_t start = 0;
  size_t len = full.size();
  if (mode != spFullPathWithDrive && !tail) {
    if (hasDriveLetter(full)) {
      start = 2;
      if (start >= len) return {};
    } else if (len >= 2) {
      for (size_t j = 0; j + 1 < len; ++j) {
        if (IsPathSeparator(full[j]) && IsPathSeparator(full[j + 1])) {
          start = j + 2;
          for (size_t k = start; k < len; ++k) {
            if (IsPathSeparator(full[k])) {
              start = k + 1;
              break;
            }
          }
          break;
        }
      }
    }
    if (start < len && IsPathSeparator(full[start])) ++start;
  }
  return start < len ? ToSlashes(full.substr(start)) : std::string();
}

}  // namespace ziparchive
