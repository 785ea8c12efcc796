#include "scheduler/core/backuprun.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/drives.h"
#include "platform/errortext.h"
#include "platform/filecopy.h"
#include "scheduler/core/copydecision.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/scrutedossier.h"

namespace core {
namespace {

constexpr std::size_t kPathBytes = PATH_MAX - 1;  // without the ending NUL
constexpr std::size_t kNameBytes = NAME_MAX;
constexpr char kPathTooLong[] = "longueur total du chemin + le fichier ne doit dépasser 260 caractères";
constexpr const char* kLinkMessage = "Lien symbolique à la place du répertoire, non suivi ";
// Rows and copies held back behind renames under way, at most (each copy keeps a descriptor).
constexpr std::size_t kHeldRows = 64;
constexpr std::size_t kKeepAll = static_cast<std::size_t>(-1);

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// Clears a flag on every way out, an exception from a handler included.
struct BusyScope {
  bool& flag;
  explicit BusyScope(bool& f) : flag(f) { flag = true; }
  ~BusyScope() { flag = false; }
};

std::string Resolved(const std::string& path) {
  if (IsNetworkPath(path)) {
    std::string p = path;
    while (p.size() > 2 && p.back() == '/') p.pop_back();
    return p;
  }
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  if (ec) p = std::filesystem::path(path).lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileFacts FactsOf(std::int64_t size, std::int64_t mtime) { return FileFacts{true, static_cast<std::uint64_t>(size), mtime}; }

}  // namespace

TargetDrive ProbeTargetDrive(const std::string& path) {
  TargetDrive d;
  d.removable = platform::RemovableDriveFlag(path) == "1";
  if (d.removable) d.freeBytes = static_cast<std::int64_t>(platform::FreeSpace(path).value_or(0));
  return d;
}

bool IsNetworkPath(const std::string& path) { return path.size() >= 2 && path[0] == '/' && path[1] == '/'; }

std::string NetworkComputer(const std::string& path) {
  if (!IsNetworkPath(path)) return {};
  return ExtractField(path + "/", '/', 4);
}

namespace {

bool Within(const std::string& inner, const std::string& outer) {
  if (outer == "/") return !inner.empty() && inner[0] == '/';
  return inner == outer ||
         (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/');
}

// The target's nearest existing folder, and each folder above it through "..", is the source.
bool AncestorIsSource(const std::string& target, const struct stat& source) {
  std::filesystem::path p(target);
  int fd = -1;
  for (;;) {
    fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || !p.has_relative_path()) break;
    p = p.parent_path();
  }
  for (int level = 0; fd >= 0 && level < 4096; ++level) {
    struct stat st;
    if (::fstat(fd, &st) != 0) break;
    if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) {
      ::close(fd);
      return true;
    }
    const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat upSt;
    const bool top = up < 0 || ::fstat(up, &upSt) != 0 || (upSt.st_dev == st.st_dev && upSt.st_ino == st.st_ino);
    ::close(fd);
    fd = top ? -1 : up;
    if (top && up >= 0) ::close(up);
  }
  if (fd >= 0) ::close(fd);
  return false;
}

// The folder of its file system that a resolved path shows, with that file system's device
// ("" when no mount holds it): a bind mount shows a folder below its file system's root.
std::pair<std::string, std::string> FileSystemFolder(const std::string& resolved) {
  auto mount = platform::MountOf(resolved);
  if (!mount) return {};
  std::string inside = resolved.substr(mount->mountPoint == "/" ? 0 : mount->mountPoint.size());
  std::string folder = mount->root == "/" ? inside : mount->root + inside;
  if (folder.empty()) folder = "/";
  return {std::to_string(mount->major) + ":" + std::to_string(mount->minor), folder};
}

}  // namespace

bool TargetWithinSource(const std::string& target, const std::string& source) {
  if (IsNetworkPath(target) != IsNetworkPath(source)) return false;
  std::string t = Resolved(target), s = Resolved(source);
  if (IsNetworkPath(t)) return Within(t, s);
  if (Within(t, s)) return true;
  struct stat st;
  if (::stat(s.c_str(), &st) != 0) return false;
  if (AncestorIsSource(t, st)) return true;
  auto [sourceDevice, sourceFolder] = FileSystemFolder(s);
  auto [targetDevice, targetFolder] = FileSystemFolder(t);
  return !sourceDevice.empty() && sourceDevice == targetDevice && Within(targetFolder, sourceFolder);
}

bool IsSystemRoot(const std::string& target) { return !IsNetworkPath(target) && Resolved(target) == "/"; }

bool PathWithinLimits(const std::string& path) {
  if (path.size() > kPathBytes) return false;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end - start > kNameBytes) return false;
    start = end + 1;
  }
  return true;
}

BackupRun::BackupRun(TScruteDossier& walker, RunView& view, const DailyLog& log, bool bindWalker)
    : walker_(walker), view_(view), log_(log) {
  if (!bindWalker) return;
  walker_.OnExecute = [this](TScruteDossier*) { WalkStarted(); };
  walker_.OnDossier = [this](TScruteDossier*, const std::string& nom) { FolderFound(nom); };
  walker_.OnFichier = [this](TScruteDossier* s, const std::string& nom) { FileFound(s, nom); };
  walker_.OnFinExecute = [this](TScruteDossier*) { WalkEnded(); };
  walker_.OnErreur = [this](TScruteDossier*, const std::string& nom, int error) { FolderUnreadable(nom, error); };
}

BackupRun::~BackupRun() {
  CloseTargetFolders();
  if (recordFd_ >= 0) ::close(recordFd_);
}

int BackupRun::ChainFd(std::size_t index) {
  ChainEntry& entry = chain_[index];
  if (entry.fd >= 0) return entry.fd;
  // Closed to spare descriptors: opened again from the nearest open folder below it.
  std::size_t base = index;
  while (base > 0 && chain_[base - 1].fd < 0) --base;
  int parent = base == 0 ? rootFd_ : chain_[base - 1].fd;
  std::size_t from = base == 0 ? 0 : chain_[base - 1].rel.size() + 1;
  int fd = parent;
  while (fd >= 0 && from < entry.rel.size()) {
    std::size_t end = entry.rel.find('/', from);
    if (end == std::string::npos) end = entry.rel.size();
    const int next = ::openat(fd, entry.rel.substr(from, end - from).c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd != parent) ::close(fd);
    fd = next;
    from = end + 1;
  }
  entry.fd = fd;
  return fd;
}

BackupRun::FolderOpen BackupRun::TargetFolder(const std::string& rel, bool create) {
  FolderOpen out;
  if (rel.empty()) {
    out.fd = rootFd_;
    out.error = rootFd_ < 0 ? ENOENT : 0;
    return out;
  }
  while (!chain_.empty() && !Within(rel, chain_.back().rel)) {
    if (chain_.back().fd >= 0) ::close(chain_.back().fd);
    chain_.pop_back();
  }
  int parent = rootFd_;
  std::size_t from = 0;
  if (!chain_.empty()) {
    parent = ChainFd(chain_.size() - 1);
    from = chain_.back().rel.size() + 1;
  }
  while (from <= rel.size()) {
    if (parent < 0) {
      out.error = out.error ? out.error : ENOENT;
      return out;
    }
    std::size_t end = rel.find('/', from);
    if (end == std::string::npos) end = rel.size();
    const std::string name = rel.substr(from, end - from);
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, name.c_str(), kFlags);
    out.created = false;
    if (fd < 0 && errno == ENOENT && create) {
      if (::mkdirat(parent, name.c_str(), 0777) == 0) out.created = true;
      // A folder that cannot be made keeps the reason (a read-only target, no space).
      if (out.created || errno == EEXIST) fd = ::openat(parent, name.c_str(), kFlags);
    }
    if (fd < 0) {
      out.error = errno;
      struct stat st;
      out.link = ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      return out;
    }
    // The deepest folders keep their descriptors; those far above are closed meanwhile.
    constexpr std::size_t kOpenLevels = 64;
    if (chain_.size() >= kOpenLevels && chain_[chain_.size() - kOpenLevels].fd >= 0) {
      ::close(chain_[chain_.size() - kOpenLevels].fd);
      chain_[chain_.size() - kOpenLevels].fd = -1;
    }
    chain_.push_back(ChainEntry{rel.substr(0, end), fd});
    parent = fd;
    from = end + 1;
  }
  out.fd = parent;
  return out;
}

void BackupRun::CloseTargetFolders() {
  for (const ChainEntry& e : chain_)
    if (e.fd >= 0) ::close(e.fd);
  chain_.clear();
  if (rootFd_ >= 0) ::close(rootFd_);
  rootFd_ = -1;
  failedRel_.clear();
  failed_ = FolderOpen{};
}

void BackupRun::RecordCopyFolder(int fd, const std::string& rel) {
  if (log_.Folder().empty()) return;
  auto onRecord = [this](const std::string& r) {
    return std::any_of(recorded_.begin(), recorded_.end(), [&](const auto& e) { return e.first == r; });
  };
  // The folders of renames still waiting stay on record; the others may go.
  std::vector<std::string> waiting;
  for (const Held& h : held_)
    if (h.commit && std::find(waiting.begin(), waiting.end(), h.folder) == waiting.end()) waiting.push_back(h.folder);
  if (recordFd_ >= 0 && onRecord(rel) && std::all_of(waiting.begin(), waiting.end(), onRecord)) return;

  std::vector<std::pair<std::string, std::string>> next;
  for (const auto& e : recorded_)
    if (e.first != rel && std::find(waiting.begin(), waiting.end(), e.first) != waiting.end()) next.push_back(e);
  // The folder's own path, links resolved: the next run opens it without following any.
  char path[PATH_MAX + 1];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, PATH_MAX);
  if (n <= 0) return;
  next.emplace_back(rel, std::string(path, static_cast<std::size_t>(n)));
  if (recordFd_ < 0) {
    recordFd_ = ::open((log_.Folder() + kCopyRecordName).c_str(),
                       O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (recordFd_ < 0) return;
  }
  std::string text;
  for (const auto& e : next) text += e.second + "\n";
  if (::pwrite(recordFd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
      ::ftruncate(recordFd_, static_cast<off_t>(text.size())) == 0)
    recorded_ = std::move(next);
}

void BackupRun::ClearCopyRecord() {
  if (recordFd_ < 0) return;
  ::close(recordFd_);
  recordFd_ = -1;
  recorded_.clear();
  ::unlink((log_.Folder() + kCopyRecordName).c_str());
}

void BackupRun::RemoveRecordedTemps() {
  if (log_.Folder().empty()) return;
  const std::string record = log_.Folder() + kCopyRecordName;
  const int in = ::open(record.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (in < 0) return;
  // One folder a line; a record longer than the run ever writes is read up to that length.
  std::string text;
  char buf[8192];
  for (ssize_t n; text.size() < (kHeldRows + 1) * (PATH_MAX + 1) && (n = ::read(in, buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  ::close(in);
  for (std::size_t line = 0; line < text.size();) {
    std::size_t eol = text.find('\n', line);
    if (eol == std::string::npos) eol = text.size();
    const std::string path = text.substr(line, eol - line);
    line = eol + 1;
    // Down from "/" one level at a time: a link planted on the way is not followed.
    int fd = path.size() > 1 && path[0] == '/' ? ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    for (std::size_t from = 1; fd >= 0 && from < path.size();) {
      std::size_t end = path.find('/', from);
      if (end == std::string::npos) end = path.size();
      const int next =
          ::openat(fd, path.substr(from, end - from).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      ::close(fd);
      fd = next;
      from = end + 1;
    }
    if (fd >= 0) {
      platform::RemoveCopyTempsAt(fd);
      ::close(fd);
    }
  }
  ::unlink(record.c_str());
}

StartResult BackupRun::Start(const RunJob& job, bool idleMarker) {
  if (quitting_) return StartResult::Busy;
  if (TargetWithinSource(job.target, job.source)) return StartResult::SameFolder;
  if (IsSystemRoot(job.target)) return StartResult::SystemRoot;
  if (!idleMarker) return StartResult::Busy;
  return Preflight(job);
}

StartResult BackupRun::StartFromEditor(const RunJob& job) {
  if (quitting_) return StartResult::Busy;
  if (IsSystemRoot(job.target)) return StartResult::SystemRoot;
  if (TargetWithinSource(job.target, job.source)) return StartResult::SameFolder;
  return Preflight(job);
}

void BackupRun::RequestStop() { walker_.Stop = true; }

void BackupRun::Abandon() {
  quitting_ = true;
  if (!busy_ && !walker_.Running) return;
  walker_.Stop = true;
  cutShort_ = true;
}

void BackupRun::Log(const std::string& line) const {
  if (Logging()) log_.Append(line);
}

std::string BackupRun::LocalOf(const std::string& path) const {
  if (!IsNetworkPath(path)) return path;
  return Network ? Network->LocalPath(path) : std::string();
}

StartResult BackupRun::Preflight(const RunJob& job) {
  if (quitting_ || busy_ || walker_.Running) return StartResult::Busy;
  BusyScope scope(busy_);
  job_ = job;

  for (const std::string* path : {&job.target, &job.source}) {
    std::string computer = NetworkComputer(*path);
    if (!computer.empty() && Network && !Network->Reachable(*path)) Network->Reconnect(computer);
  }
  if (quitting_) return StartResult::Busy;  // quit while the network was reconnected

  // The local folders are taken once: the walk uses the ones tested here.
  localSource_ = LocalOf(job.source);
  localTarget_ = LocalOf(job.target);
  const std::string t = log_.TimeNow();
  if (!IsFolder(localTarget_)) {
    PreflightError("Cible non présente ", job.target, TargetMissingRow(t, job.source, job.target),
                   TargetMissingLogLine(t, job.source, job.target));
    return StartResult::PreflightFailed;
  }
  if (!IsFolder(localSource_)) {
    PreflightError("Source non présente ", job.source, SourceMissingRow(t, job.source, job.target),
                   SourceMissingLogLine(t, job.source, job.target));
    return StartResult::PreflightFailed;
  }
  walker_.Execute();
  return StartResult::Ran;
}

void BackupRun::PreflightError(const std::string& message, const std::string& path, const HistoryRow& row,
                               const std::string& line) {
  view_.RaiseAlerts(message + path);
  view_.History(row);
  Log(line);
  walker_.Stop = true;
  view_.IdleMarker(true);
}

void BackupRun::WalkStarted() {
  Settle(0);  // rows of a walk cut short by an exception
  const std::string source = localSource_, target = localTarget_;
  sourceRoot_ = WithSlash(source);
  targetRoot_ = WithSlash(target);
  removable_ = false;
  freeSpaceLeft_ = 0;
  if (!IsNetworkPath(job_.target) && ProbeDrive) {
    TargetDrive drive = ProbeDrive(target);
    removable_ = drive.removable;
    if (removable_) freeSpaceLeft_ = drive.freeBytes;
  }
  // Temp files of a copy that was cut short (a killed run) never count as backups: those of
  // the folder the record names, and those found in the folders this run goes through.
  CloseTargetFolders();
  ClearCopyRecord();
  RemoveRecordedTemps();
  rootFd_ = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd_ >= 0) platform::RemoveCopyTempsAt(rootFd_);
  struct stat st;
  targetDevice_ = ::stat(target.c_str(), &st) == 0 ? st.st_dev : 0;
  targetLost_ = false;

  view_.RunStarted(job_);
  counters_ = RunCounters{};
  rowNumber_ = 0;
  cancelled_ = 0;
  alerted_ = false;
  cutShort_ = quitting_;
  view_.Panel(1, 0);
  view_.Panel(2, 0);
  view_.IdleMarker(false);

  walker_.Dossier = source;
  walker_.Filtre = job_.filter;
  walker_.SousDossier = job_.subfolders;
  walker_.MaxPenetration = -1;
  // A target reached again inside the source (through a mount) is not walked into.
  walker_.Excluded.reset();
  if (struct stat st; rootFd_ >= 0 && ::fstat(rootFd_, &st) == 0) walker_.Excluded = FolderId{st.st_dev, st.st_ino};
  if (Pump) walker_.Pump = Pump, walker_.PumpInterval = PumpInterval;
}

void BackupRun::FolderFound(const std::string& nom) {
  Settle(kKeepAll);
  if (quitting_) {  // asked before the walk began, which clears the stop
    walker_.Stop = true;
    return;
  }
  ++counters_.foldersScanned;
  view_.Panel(2, counters_.foldersScanned);
  if (nom.compare(0, sourceRoot_.size(), sourceRoot_) != 0) return;
  const std::string rel = nom.substr(sourceRoot_.size());
  const std::string folder = targetRoot_ + rel + "/";
  // Past the platform's limits a folder can be neither walked nor made: the path rule's row.
  if (!PathWithinLimits(nom) || !PathWithinLimits(folder.substr(0, folder.size() - 1))) {
    ++counters_.folderErrors;
    Report("0", 6, folder, nom, kPathTooLong, "");
    return;
  }
  if (TargetLost(folder, nom)) return;
  FolderOpen f = TargetFolder(rel, true);
  if (f.fd < 0) {
    failedRel_ = rel;
    failed_ = f;
    ++counters_.folderErrors;
    Report("0", 6, folder, nom, f.link ? kLinkMessage : "Impossible de créer répertoire ", "S");
    return;
  }
  if (!f.created) platform::RemoveCopyTempsAt(f.fd);
}

void BackupRun::FolderUnreadable(const std::string& nom, int error) {
  if (!PathWithinLimits(nom)) return;  // the path rule's row has said it
  const std::string rel = nom.compare(0, sourceRoot_.size(), sourceRoot_) == 0 ? nom.substr(sourceRoot_.size()) : "";
  ++counters_.folderErrors;
  Report("0", 6, targetRoot_ + rel + (rel.empty() ? "" : "/"), nom,
         "Impossible de lire le répertoire : " + platform::SystemErrorText(error), std::to_string(error));
}

void BackupRun::FileFound(TScruteDossier* sender, const std::string& nom) {
  Settle(kKeepAll);
  if (quitting_) {
    walker_.Stop = true;
    return;
  }
  ++counters_.filesTreated;
  view_.Panel(0, counters_.filesTreated);
  view_.CurrentFile(nom);
  if (nom.compare(0, sourceRoot_.size(), sourceRoot_) != 0) return;
  const std::string rel = nom.substr(sourceRoot_.size());
  const std::string target = targetRoot_ + rel;

  if (!PathWithinLimits(nom) || !PathWithinLimits(target)) {
    ++rowNumber_;
    ++counters_.filesNotCopied;
    Report(std::to_string(rowNumber_), 6, target, nom, kPathTooLong, "");
    return;
  }

  CopyQuestion q;
  struct stat st;
  if (sender && sender->CurrentFile == nom) {
    q.source = FactsOf(sender->CurrentSize, sender->CurrentMTime);
  } else if (::stat(nom.c_str(), &st) == 0) {
    q.source = FactsOf(st.st_size, st.st_mtim.tv_sec);
  }
  const std::size_t slash = rel.find_last_of('/');
  const std::string relFolder = slash == std::string::npos ? std::string() : rel.substr(0, slash);
  const std::string name = rel.substr(slash + 1);
  FolderOpen folder = !relFolder.empty() && relFolder == failedRel_ ? failed_ : TargetFolder(relFolder, true);
  // Only what stands under the name is looked at: a link there is replaced, not followed.
  if (folder.fd >= 0 && ::fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)) {
    q.target = FactsOf(S_ISREG(st.st_mode) ? st.st_size : 0, st.st_mtim.tv_sec);
  }
  q.overwrite = job_.overwrite;
  q.removable = removable_;
  q.freeSpaceLeft = freeSpaceLeft_;

  CopyAnswer a = DecideCopy(q);
  freeSpaceLeft_ = a.freeSpaceLeft;
  if (a.counted) ++rowNumber_;

  if (q.source.size == 0) {
    if (a.action == CopyAction::Copy) CopyInto(nom, folder, relFolder, name, target, 0, q.target.exists);
    PumpMaybe();
    return;
  }
  if (a.action == CopyAction::NoSpace) {
    ++counters_.filesNotCopied;
    Report(std::to_string(rowNumber_), 6, target, nom, "Pas assez d'espace disque ", "S");
    // The idle marker stays "false" until the walk has unwound and the end of run sets it.
    walker_.Stop = true;
    cutShort_ = true;
    return;
  }
  if (a.action == CopyAction::Copy) {
    CopyInto(nom, folder, relFolder, name, target, q.source.size, q.target.exists);
  }
  view_.Progress(0);
  PumpMaybe();
}

void BackupRun::CopyOne(const std::string& nom, const std::string& target, std::uint64_t size) {
  Settle(0);
  if (rootFd_ >= 0 && target.compare(0, targetRoot_.size(), targetRoot_) == 0) {
    const std::string rel = target.substr(targetRoot_.size());
    const std::size_t slash = rel.find_last_of('/');
    const std::string relFolder = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    CopyInto(nom, TargetFolder(relFolder, true), relFolder, rel.substr(slash + 1), target, size);
    return;
  }
  // Outside the run's target: the folder as it is named.
  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  FolderOpen f;
  f.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  f.error = f.fd < 0 ? errno : 0;
  // Keyed by its path, which no folder of the run's target has (those are relative).
  CopyInto(nom, f, "/" + folder, target.substr(slash + 1), target, size);
  if (f.fd >= 0) ::close(f.fd);
}

void BackupRun::CopyInto(const std::string& nom, const FolderOpen& folder, const std::string& relFolder,
                         const std::string& name, const std::string& target, std::uint64_t size, bool replacing) {
  // A copy runs to its end (a stop takes effect at the walker's next entry), unless the
  // program is quitting.
  auto progress = [this](std::uint64_t done, std::uint64_t total) {
    view_.Progress(total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done, total) * 100 / total));
    PumpMaybe();
    return !quitting_;
  };
  const std::string number = std::to_string(rowNumber_);
  platform::CopyResult r;
  if (folder.fd < 0) {
    r.error = folder.link ? ELOOP : folder.error;
    r.message = platform::SystemErrorText(r.error);
  } else {
    RecordCopyFolder(folder.fd, relFolder);
    platform::StagedCopy staged;
    r = platform::StageCopyInto(nom, folder.fd, name, size > 0 ? progress : platform::CopyProgress{}, staged);
    // Replacing a file may wait for the device: the walk goes on meanwhile.
    if (r.ok && replacing) {
      if (auto commit = commits_.Add(staged)) {
        held_.push_back(Held{std::move(commit), LastRunRow{7, number, nom, target, "", ""}, size, relFolder});
        Settle(kHeldRows);
        return;
      }
    }
    if (r.ok) r = platform::CommitCopy(staged);
  }
  CopyEnded(number, nom, target, size, r);
}

void BackupRun::CopyEnded(const std::string& number, const std::string& nom, const std::string& target,
                          std::uint64_t size, const platform::CopyResult& r) {
  if (r.ok) {
    ++counters_.filesCopied;
    view_.Panel(1, counters_.filesCopied);
    Report(number, 7, target, nom, "", "");
    return;
  }
  ++counters_.filesNotCopied;
  if (quitting_ && r.error == ECANCELED) {
    ++cancelled_;
    Report(number, 6, target, nom, "Copie arrêtée : le programme a été quitté", "S");
    return;
  }
  if (size > CopyThreshold) Log(LockLogLine(log_.TimeNow(), nom, target));
  if (r.changed) {
    Report(number, 6, target, nom, "Le fichier a changé pendant la copie, copie abandonnée", "S");
    return;
  }
  Report(number, 6, target, nom, r.message, std::to_string(r.error));
  TargetLost(target, nom, r.error, number);
}

void BackupRun::Settle(std::size_t keep) {
  while (!held_.empty()) {
    const std::shared_ptr<CommitQueue::Commit> commit = held_.front().commit;
    if (commit && !commits_.Done(*commit)) {
      if (held_.size() <= keep) return;
      const auto wait = Pump ? std::max(PumpInterval, std::chrono::milliseconds(1)) : std::chrono::milliseconds(500);
      if (!commits_.Wait(*commit, wait)) PumpMaybe();
      continue;  // a pump may have settled it meanwhile
    }
    Held h = std::move(held_.front());
    held_.pop_front();
    ++settling_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{settling_};
    if (h.commit) CopyEnded(h.row.number, h.row.source, h.row.target, h.size, h.commit->result);
    else ReportNow(h.row);
  }
}

bool BackupRun::TargetLost(const std::string& target, const std::string& nom, int error, const std::string& number) {
  if (targetLost_) return true;
  // A device that stopped answering is gone even while its mount is still listed.
  const bool deviceGone = error == EIO || error == ENODEV || error == ENXIO;
  struct stat st;
  if (!deviceGone && ::stat(localTarget_.c_str(), &st) == 0 && st.st_dev == targetDevice_) return false;
  targetLost_ = true;
  cutShort_ = true;
  Report(number.empty() ? std::to_string(rowNumber_) : number, 6, target, nom, "Cible non présente ", "S");
  alerted_ = true;
  view_.RaiseAlerts("Cible non présente " + job_.target);
  walker_.Stop = true;
  return true;
}

void BackupRun::Report(const std::string& number, int code, const std::string& target, const std::string& source,
                       const std::string& message, const std::string& error) {
  const LastRunRow row{code, number, source, target, message, error};
  if (!held_.empty() && settling_ == 0) held_.push_back(Held{nullptr, row, 0, {}});
  else ReportNow(row);
}

void BackupRun::ReportNow(const LastRunRow& row) {
  if (row.image == 6) {
    const std::string t = log_.TimeNow();
    view_.History(FileErrorRow(t, row.source, row.message, row.target));
    Log(FileErrorLogLine(t, row.source, row.message, row.target));
  }
  view_.Reported(row);
}

void BackupRun::WalkEnded() {
  Settle(0);
  CloseTargetFolders();
  ClearCopyRecord();
  view_.RunEnded(job_);
  const std::string t = log_.TimeNow();
  const std::string trouble = Trouble();
  const bool errors = HadErrors();
  if (trouble.empty()) view_.History(RunEndedRow(t, job_.source, job_.target, job_.filter, job_.subfolders));
  else view_.History(RunTroubleRow(t, job_.source, trouble, job_.target, job_.filter, job_.subfolders, errors));
  Log(RunLogLine(t, job_.source, job_.target, job_.filter, job_.subfolders));
  if (!trouble.empty()) Log(FileErrorLogLine(t, job_.source, trouble, job_.target));
  view_.IdleMarker(true);
  // Once for the run, last: a mail that fails reaches the exception handler with the run over.
  if (errors && !alerted_) {
    alerted_ = true;
    view_.RaiseAlerts(trouble + " : " + job_.source + " vers " + job_.target);
  }
}

bool BackupRun::HadErrors() const {
  return counters_.filesNotCopied > cancelled_ || counters_.folderErrors > 0 || targetLost_;
}

std::string BackupRun::Trouble() const {
  std::string text = cutShort_ ? "Sauvegarde arrêtée" : "";
  auto add = [&text](std::int32_t n, const char* one, const char* many) {
    if (n == 0) return;
    text += (text.empty() ? "" : ", ") + std::to_string(n) + (n == 1 ? one : many);
  };
  add(counters_.filesNotCopied, " fichier non copié", " fichiers non copiés");
  add(counters_.folderErrors, " répertoire en erreur", " répertoires en erreur");
  return text == "Sauvegarde arrêtée" ? text + " avant la fin" : text;
}

void BackupRun::PumpMaybe() {
  if (!Pump) return;
  auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < PumpInterval) return;
  lastPump_ = now;
  Pump();
}

}  // namespace core
