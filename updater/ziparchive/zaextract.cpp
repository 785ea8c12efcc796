#include "updater/ziparchive/zaextract.h"

#include "platform/filetimes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace ziparchive {

namespace {

std::string FoldSeparators(std::string_view name) {
  std::string s(name);
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// The non-empty, non-"." segments of a "/" name.
std::vector<std::string> Segments(const std::string& name) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string seg = name.substr(start, end - start);
    if (!seg.empty() && seg != ".") out.push_back(std::move(seg));
    start = end + 1;
  }
  return out;
}

fs::path JoinSegments(const fs::path& base, const std::vector<std::string>& segs, size_t count) {
  fs::path p = base;
  for (size_t i = 0; i < count; ++i) p /= segs[i];
  return p;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool IsHostileEntryName(std::string_view name) {
  if (name.empty()) return true;
  if (name.find('\0') != std::string_view::npos) return true;
  if (name.front() == '/') return true;
  if (name.size() >= 2 && name[1] == ':' && IsDriveLetter(name[0])) return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

TZAExtractTarget ResolveExtractTarget(const fs::path& baseDir, std::string_view name, bool isFolder,
                                      bool createDirs, bool handlerPath) {
  TZAExtractTarget t;
  t.IsFolder = isFolder;
  const std::string folded = FoldSeparators(name);

  // An absolute path chosen by the caller's own handler is used as it stands.
  if (handlerPath && !folded.empty() && folded.front() == '/' && folded.find('\0') == std::string::npos) {
    fs::path p = fs::path(folded).lexically_normal();
    if (isFolder) {
      t.Folder = p;
    } else {
      if (!p.has_filename()) {
        t.Refused = true;
        return t;
      }
      t.Folder = p.parent_path();
      t.File = p;
    }
    return t;
  }

  if (IsHostileEntryName(folded)) {
    t.Refused = true;
    return t;
  }
  const std::vector<std::string> segs = Segments(folded);
  if (createDirs) {
    if (isFolder) {
      t.Folder = JoinSegments(baseDir, segs, segs.size());
      return t;
    }
    // A file name must end in a real segment: "a/" or "a/." would name a folder.
    if (segs.empty() || folded.back() == '/' || Segments(folded.substr(folded.rfind('/') + 1)).empty()) {
      t.Refused = true;
      return t;
    }
    t.Folder = JoinSegments(baseDir, segs, segs.size() - 1);
    t.File = t.Folder / segs.back();
    return t;
  }

  // Flattened: the part after the last separator, checked once more.
  t.Folder = baseDir;
  if (isFolder) return t;
  const size_t slash = folded.rfind('/');
  const std::string last = slash == std::string::npos ? folded : folded.substr(slash + 1);
  if (IsHostileEntryName(last) || last == ".") {
    t.Refused = true;
    return t;
  }
  t.File = baseDir / last;
  return t;
}

namespace {

TZAExistingTarget InspectAt(int at, const char* name) {
  TZAExistingTarget t;
  struct stat st{};
  if (fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return t;
  t.Exists = true;
  t.IsFolder = S_ISDIR(st.st_mode);
  t.DosTime = UnixToDosDateTime(st.st_mtime);
  if (S_ISREG(st.st_mode)) {
    t.ReadOnly = (st.st_mode & S_IWUSR) == 0;
    t.Mode = st.st_mode & 0777;
  }
  return t;
}

}  // namespace

TZAExistingTarget InspectTarget(const fs::path& target) { return InspectAt(AT_FDCWD, target.c_str()); }

TZAExistingTarget InspectTargetIn(const TZAOpenFolder& folder, const std::string& name) {
  return InspectAt(folder.Fd(), name.c_str());
}

TZAOpenFolder::~TZAOpenFolder() { ::close(fd_); }

TZAFolderRef OpenFolder(const std::string& path) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_shared<const TZAOpenFolder>(fd);
}

// ---- DOS times -------------------------------------------------------------------------

time_t DosDateTimeToUnix(uint32_t dosDateTime) {
  const unsigned date = dosDateTime >> 16;
  const unsigned time = dosDateTime & 0xFFFF;
  std::tm tm{};
  tm.tm_year = static_cast<int>(date >> 9) + 80;
  tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>(date & 0x1F);
  tm.tm_hour = static_cast<int>(time >> 11);
  tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>(time & 0x1F) * 2;
  if (tm.tm_mon < 0) tm.tm_mon = 0;
  if (tm.tm_mday == 0) tm.tm_mday = 1;
  return platform::FromWallClock(static_cast<std::int64_t>(timegm(&tm)));
}

uint32_t UnixToDosDateTime(time_t t) {
  if (const auto dos = platform::DosDateTime(t)) return *dos;
  std::tm tm{};
  if (!localtime_r(&t, &tm) || tm.tm_year < 80) return DosDateTime((0 << 9) | (1 << 5) | 1, 0);
  return DosDateTime((127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29);
}

bool KeepExistingByTime(TZAOverwriteRule rule, uint32_t diskTime, uint32_t entryTime) {
  switch (rule) {
    case TZAOverwriteRule::Always: return false;
    case TZAOverwriteRule::Never: return true;
    case TZAOverwriteRule::IfNewer: return diskTime >= entryTime;
    case TZAOverwriteRule::IfOlder: return diskTime <= entryTime;
  }
  return true;
}

// ---- modes -----------------------------------------------------------------------------

mode_t ExtractedFileMode(uint16_t versionMadeBy, uint32_t externalAttributes, bool setAttributes,
                         std::optional<mode_t> replacedMode, mode_t umaskBits) {
  const mode_t fallback = replacedMode ? (*replacedMode & 0777) : (0666 & ~umaskBits);
  if (!setAttributes) return fallback;
  mode_t mode = fallback;
  const mode_t stored = static_cast<mode_t>(externalAttributes >> 16);
  if ((versionMadeBy >> 8) == kHostUnix && stored != 0) {
    const mode_t type = stored & S_IFMT;
    if (type == S_IFREG || type == 0) mode = stored & 0777;
    else mode = 0666 & ~umaskBits;
  }
  if (externalAttributes & 0x01) mode &= ~static_cast<mode_t>(0222);
  return mode;
}

mode_t CurrentUmask() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  const mode_t m = umask(022);
  umask(m);
  return m;
}

// ---- the writer ------------------------------------------------------------------------

TZASafeFileWriter::~TZASafeFileWriter() { Discard(); }

namespace {

// Temp names of the process: a counter from a start drawn once, so a name costs no system call.
std::string NextTempName() {
  static uint64_t next = (static_cast<uint64_t>(::getpid()) << 32) ^ static_cast<uint64_t>(::time(nullptr)) * 2654435761u;
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  uint64_t v = next++ * 0x9E3779B97F4A7C15ull;
  std::string name = ".za";
  for (int i = 0; i < 8; ++i, v /= 62) name += kDigits[v % 62];
  return name;
}

}  // namespace

std::string TZASafeFileWriter::NameOf(const fs::path& path) const {
  return folder_ ? path.filename().string() : path.string();
}

bool TZASafeFileWriter::Open(const fs::path& target, mode_t mode, std::optional<mode_t> umaskBits,
                             TZAFolderRef openFolder) {
  Discard();
  folder_ = std::move(openFolder);
  target_ = target;
  written_ = 0;
  created_.reset();
  const bool asked = umaskBits && (mode & *umaskBits) == 0;
  if (!asked) mode = 0600;
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path temp = folder / NextTempName();
    const int fd = ::openat(At(), NameOf(temp).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    fd_ = fd;
    temp_ = temp;
    if (asked) created_ = mode;
    return true;
  }
  return false;
}

int64_t TZASafeFileWriter::Write(const void* data, int64_t count) {
  if (fd_ < 0 || count <= 0) return 0;
  const char* p = static_cast<const char*>(data);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += n;
  }
  written_ += done;
  return done;
}

bool TZASafeFileWriter::Commit(mode_t mode, time_t mtime, bool flush, bool noReplace) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  bool ok = (created_ == mode || fchmod(fd_, mode) == 0) && futimens(fd_, times) == 0 && (!flush || fsync(fd_) == 0);
  int err = errno;
  if (::close(fd_) != 0 && ok) {
    ok = false;
    err = errno;
  }
  fd_ = -1;
  if (ok && ::renameat2(At(), NameOf(temp_).c_str(), At(), NameOf(target_).c_str(), noReplace ? RENAME_NOREPLACE : 0) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlinkat(At(), NameOf(temp_).c_str(), 0);
    temp_.clear();
    errno = err;
    return false;
  }
  temp_.clear();
  return true;
}

void TZASafeFileWriter::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlinkat(At(), NameOf(temp_).c_str(), 0);
    temp_.clear();
  }
  folder_.reset();
}

}  // namespace ziparchive
