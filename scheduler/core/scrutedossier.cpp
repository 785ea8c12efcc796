#include "scheduler/core/scrutedossier.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "platform/filetimes.h"
#include "scheduler/core/filemask.h"

namespace core {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct Entry {
  std::string name;
  bool statted = false;
  bool gone = false;  // vanished or replaced since the folder was read
  std::int64_t size = 0;
  std::int64_t mtime = 0;
};

// Devices of the kernel's pseudo file systems: a walk of "/" must not wander into them.
std::set<dev_t> pseudoDevices() {
  static const std::set<std::string_view> kinds = {
      "proc",   "sysfs",    "devtmpfs", "cgroup",      "cgroup2",  "devpts",   "securityfs",
      "debugfs", "tracefs", "pstore",   "bpf",         "mqueue",   "configfs", "fusectl",
      "binfmt_misc", "efivarfs", "hugetlbfs", "autofs", "rpc_pipefs", "nsfs"};
  std::set<dev_t> out;
  FILE* f = std::fopen("/proc/self/mountinfo", "re");
  if (!f) return out;
  char* line = nullptr;
  size_t cap = 0;
  while (getline(&line, &cap, f) > 0) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(line, "%*s %*s %u:%u", &major, &minor) != 2) continue;
    const char* sep = std::strstr(line, " - ");
    if (!sep) continue;
    std::string_view rest(sep + 3);
    std::string_view type = rest.substr(0, rest.find(' '));
    if (kinds.count(type)) out.insert(makedev(major, minor));
  }
  std::free(line);
  std::fclose(f);
  return out;
}

}  // namespace

struct TScruteDossier::Walk {
  std::vector<FileMask> masks;
  bool sousDossier = true;
  dev_t rootDev = 0;
  bool pseudoLoaded = false;
  std::set<dev_t> pseudo;
  std::chrono::steady_clock::time_point lastPump;

  bool isPseudo(dev_t dev) {
    if (!pseudoLoaded) {
      pseudo = pseudoDevices();
      pseudoLoaded = true;
    }
    return pseudo.count(dev) != 0;
  }
};

void TScruteDossier::Execute() {
  if (Running) return;
  if (OnExecute) OnExecute(this);
  Stop = false;
  CurrentFile.clear();
  CurrentFolder.clear();
  CurrentSize = 0;
  CurrentTime = 0;
  CurrentMTime = 0;
  Running = true;
  // Any exit, an exception from a handler included, ends the running state.
  struct ResetRunning {
    bool& running;
    ~ResetRunning() { running = false; }
  } reset{Running};

  Walk walk;
  for (const std::string& m : SplitMasks(Filtre)) walk.masks.emplace_back(m);
  walk.sousDossier = SousDossier;
  walk.lastPump = std::chrono::steady_clock::now();
  // An empty root names no folder (a "/" root is written "/").
  if (!Dossier.empty()) ScanFolder(walk, 0, Dossier);

  Running = false;
  if (OnFinExecute) OnFinExecute(this);
}

void TScruteDossier::PumpMaybe(Walk& walk) {
  if (!Pump) return;
  auto now = std::chrono::steady_clock::now();
  if (now - walk.lastPump < PumpInterval) return;
  Pump();
  walk.lastPump = std::chrono::steady_clock::now();
}

void TScruteDossier::ScanFolder(Walk& walk, int level, const std::string& folder) {
  if (MaxPenetration >= 0 && level > MaxPenetration) return;
  Depth = level;
  std::string dir = folder;
  if (!dir.empty() && dir.back() == '/') dir.pop_back();

  // The root may be a link to a folder; sub-folders never are.
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (level > 0 ? O_NOFOLLOW : 0);
  const std::string& shown = dir.empty() ? folder : dir;
  auto failed = [&](int error) {
    if (error != ENOENT && OnErreur) OnErreur(this, shown, error);
  };
  int fd = open(dir.empty() ? "/" : dir.c_str(), flags);
  if (fd < 0) return failed(errno);
  struct stat dirStat {};
  if (fstat(fd, &dirStat) != 0) {
    failed(errno);
    close(fd);
    return;
  }
  DirHandle handle(fdopendir(fd));
  if (!handle) {
    failed(errno);
    close(fd);
    return;
  }
  if (level == 0) walk.rootDev = dirStat.st_dev;

  // One read of the folder serves every mask; only regular files and real folders are kept
  // (no FIFO, socket or device; a link counts as the regular file it points to, never as a
  // folder, so link loops cannot happen).
  std::vector<Entry> files;
  std::vector<Entry> folders;
  for (;;) {
    errno = 0;
    dirent* de = readdir(handle.get());
    if (!de) {
      // A listing cut short is reported; what was read is still walked.
      if (errno != 0) failed(errno);
      break;
    }
    const char* name = de->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    unsigned char type = de->d_type;
    struct stat st {};
    bool statted = false;
    if (type == DT_UNKNOWN) {
      if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      statted = true;
      if (S_ISREG(st.st_mode)) type = DT_REG;
      else if (S_ISDIR(st.st_mode)) type = DT_DIR;
      else if (S_ISLNK(st.st_mode)) type = DT_LNK, statted = false;
      else continue;
    }
    if (type == DT_LNK) {
      if (fstatat(fd, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      statted = true;
      type = DT_REG;
    }
    if (type == DT_REG) {
      Entry e{name, statted, false, 0, 0};
      if (statted) e.size = st.st_size, e.mtime = st.st_mtim.tv_sec;
      files.push_back(std::move(e));
    } else if (type == DT_DIR) {
      if (!statted && fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (!S_ISDIR(st.st_mode)) continue;
      if (st.st_dev != dirStat.st_dev && st.st_dev != walk.rootDev && walk.isPseudo(st.st_dev)) continue;
      if (Excluded && *Excluded == FolderId{st.st_dev, st.st_ino}) continue;
      folders.push_back(Entry{name, true, false, 0, 0});
    }
  }

  const std::string prefix = dir + "/";
  for (const FileMask& mask : walk.masks) {
    for (Entry& e : files) {
      if (Stop) return;
      if (e.gone || !mask.Matches(e.name)) continue;
      PumpMaybe(walk);
      if (Stop) return;
      if (!OnFichier) continue;
      if (!e.statted) {
        struct stat st {};
        if (fstatat(fd, e.name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) {
          e.gone = true;
          continue;
        }
        e.statted = true;
        e.size = st.st_size;
        e.mtime = st.st_mtim.tv_sec;
      }
      CurrentFile = prefix + e.name;
      CurrentSize = e.size;
      CurrentMTime = e.mtime;
      CurrentTime = static_cast<std::int32_t>(platform::DosDateTime(static_cast<std::time_t>(e.mtime)).value_or(0));
      OnFichier(this, CurrentFile);
    }
  }
  handle.reset();

  for (const Entry& e : folders) {
    if (Stop) return;
    std::string path = prefix + e.name;
    CurrentFolder = path;
    if (OnDossier) OnDossier(this, path);
    if (walk.sousDossier && !Stop) {
      ScanFolder(walk, level + 1, path);
      Depth = level;
    }
    PumpMaybe(walk);
  }
}

}  // namespace core
