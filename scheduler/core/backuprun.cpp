#include "scheduler/core/backuprun.h"

#include <climits>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/drives.h"
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

bool TargetWithinSource(const std::string& target, const std::string& source) {
  if (IsNetworkPath(target) != IsNetworkPath(source)) return false;
  std::string t = Resolved(target), s = Resolved(source);
  if (t == s) return true;
  if (s == "/") return !IsNetworkPath(t);
  return t.size() > s.size() && t.compare(0, s.size(), s) == 0 && t[s.size()] == '/';
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
}

BackupRun::~BackupRun() { CloseTargetFolder(); }

int BackupRun::TargetFolder(const std::string& folder) {
  if (folderFd_ >= 0 && folder == folderPath_) return folderFd_;
  CloseTargetFolder();
  folderFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ >= 0) folderPath_ = folder;
  return folderFd_;
}

void BackupRun::CloseTargetFolder() {
  if (folderFd_ >= 0) ::close(folderFd_);
  folderFd_ = -1;
  folderPath_.clear();
}

StartResult BackupRun::Start(const RunJob& job, bool idleMarker) {
  if (TargetWithinSource(job.target, job.source)) return StartResult::SameFolder;
  if (IsSystemRoot(job.target)) return StartResult::SystemRoot;
  if (!idleMarker) return StartResult::Busy;
  return Preflight(job);
}

StartResult BackupRun::StartFromEditor(const RunJob& job) {
  if (IsSystemRoot(job.target)) return StartResult::SystemRoot;
  if (TargetWithinSource(job.target, job.source)) return StartResult::SameFolder;
  return Preflight(job);
}

void BackupRun::RequestStop() { walker_.Stop = true; }

void BackupRun::Log(const std::string& line) const {
  if (Logging()) log_.Append(line);
}

std::string BackupRun::LocalOf(const std::string& path) const {
  if (!IsNetworkPath(path)) return path;
  return Network ? Network->LocalPath(path) : std::string();
}

StartResult BackupRun::Preflight(const RunJob& job) {
  if (busy_ || walker_.Running) return StartResult::Busy;
  BusyScope scope(busy_);
  job_ = job;

  for (const std::string* path : {&job.target, &job.source}) {
    std::string computer = NetworkComputer(*path);
    if (!computer.empty() && Network && !Network->ComputerReachable(computer)) Network->Reconnect(computer);
  }

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
  view_.PreflightAlert(message + path);
  view_.History(row);
  Log(line);
  walker_.Stop = true;
  view_.IdleMarker(true);
}

void BackupRun::WalkStarted() {
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
  // Temp files of a copy that was cut short (a killed run) never count as backups.
  CloseTargetFolder();
  if (int fd = TargetFolder(WithSlash(target)); fd >= 0) platform::RemoveCopyTempsAt(fd);

  view_.RunStarted(job_);
  counters_ = RunCounters{};
  view_.Panel(1, 0);
  view_.Panel(2, 0);
  view_.IdleMarker(false);

  walker_.Dossier = source;
  walker_.Filtre = job_.filter;
  walker_.SousDossier = job_.subfolders;
  walker_.MaxPenetration = -1;
  if (Pump) walker_.Pump = Pump, walker_.PumpInterval = PumpInterval;
}

void BackupRun::FolderFound(const std::string& nom) {
  ++counters_.foldersScanned;
  view_.Panel(2, counters_.foldersScanned);
  if (nom.compare(0, sourceRoot_.size(), sourceRoot_) != 0) return;
  const std::string folder = targetRoot_ + nom.substr(sourceRoot_.size()) + "/";
  // Past the platform's limits a folder can be neither walked nor made: the path rule's row.
  if (!PathWithinLimits(nom) || !PathWithinLimits(folder.substr(0, folder.size() - 1))) {
    Report("0", 6, folder, nom, kPathTooLong, "");
    return;
  }
  // The walker reports a folder's files right after it: its descriptor serves them.
  if (int fd = TargetFolder(folder); fd >= 0) {
    platform::RemoveCopyTempsAt(fd);
    return;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && !IsFolder(folder)) {
    Report("0", 6, folder, nom, "Impossible de créer répertoire ", "S");
    return;
  }
  TargetFolder(folder);
}

void BackupRun::FileFound(TScruteDossier* sender, const std::string& nom) {
  ++counters_.filesTreated;
  view_.Panel(0, counters_.filesTreated);
  view_.CurrentFile(nom);
  if (nom.compare(0, sourceRoot_.size(), sourceRoot_) != 0) return;
  const std::string target = targetRoot_ + nom.substr(sourceRoot_.size());

  if (!PathWithinLimits(nom) || !PathWithinLimits(target)) {
    ++counters_.filesCopied;
    Report(std::to_string(counters_.filesCopied), 6, target, nom, kPathTooLong, "");
    return;
  }

  CopyQuestion q;
  struct stat st;
  if (sender && sender->CurrentFile == nom) {
    q.source = FactsOf(sender->CurrentSize, sender->CurrentMTime);
  } else if (::stat(nom.c_str(), &st) == 0) {
    q.source = FactsOf(st.st_size, st.st_mtim.tv_sec);
  }
  const std::size_t slash = target.find_last_of('/');
  const int fd = TargetFolder(target.substr(0, slash + 1));
  if ((fd >= 0 ? ::fstatat(fd, target.c_str() + slash + 1, &st, 0) : ::stat(target.c_str(), &st)) == 0) {
    q.target = FactsOf(S_ISREG(st.st_mode) ? st.st_size : 0, st.st_mtim.tv_sec);
  }
  q.overwrite = job_.overwrite;
  q.removable = removable_;
  q.freeSpaceLeft = freeSpaceLeft_;

  CopyAnswer a = DecideCopy(q);
  freeSpaceLeft_ = a.freeSpaceLeft;
  if (a.counted) ++counters_.filesCopied;

  if (q.source.size == 0) {
    if (a.action == CopyAction::Copy) CopyOne(nom, target, 0);
    PumpMaybe();
    return;
  }
  if (a.action == CopyAction::NoSpace) {
    Report(std::to_string(counters_.filesCopied), 6, target, nom, "Pas assez d'espace disque ", "S");
    // The idle marker stays "false" until the walk has unwound and the end of run sets it.
    walker_.Stop = true;
    return;
  }
  if (a.action == CopyAction::Copy) {
    view_.Panel(1, counters_.filesCopied);
    CopyOne(nom, target, q.source.size);
  }
  view_.Progress(0);
  PumpMaybe();
}

void BackupRun::CopyOne(const std::string& nom, const std::string& target, std::uint64_t size) {
  // A copy always runs to its end; a stop takes effect at the walker's next entry.
  auto progress = [this](std::uint64_t done, std::uint64_t total) {
    view_.Progress(total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done, total) * 100 / total));
    PumpMaybe();
    return true;
  };
  platform::CopyResult r = platform::CopyFileReplacing(nom, target, size > 0 ? progress : platform::CopyProgress{});
  const std::string number = std::to_string(counters_.filesCopied);
  if (r.ok) {
    Report(number, 7, target, nom, "", "");
    return;
  }
  if (size > CopyThreshold) Log(LockLogLine(log_.TimeNow(), nom, target));
  Report(number, 6, target, nom, r.message, std::to_string(r.error));
}

void BackupRun::Report(const std::string& number, int code, const std::string& target, const std::string& source,
                       const std::string& message, const std::string& error) {
  if (code == 6) {
    const std::string t = log_.TimeNow();
    view_.History(FileErrorRow(t, source, message, target));
    Log(FileErrorLogLine(t, source, message, target));
  }
  view_.Reported(LastRunRow{code, number, source, target, message, error});
}

void BackupRun::WalkEnded() {
  CloseTargetFolder();
  view_.RunEnded(job_);
  const std::string t = log_.TimeNow();
  view_.History(RunEndedRow(t, job_.source, job_.target, job_.filter, job_.subfolders));
  Log(RunLogLine(t, job_.source, job_.target, job_.filter, job_.subfolders));
  view_.IdleMarker(true);
}

void BackupRun::PumpMaybe() {
  if (!Pump) return;
  auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < PumpInterval) return;
  lastPump_ = now;
  Pump();
}

}  // namespace core
