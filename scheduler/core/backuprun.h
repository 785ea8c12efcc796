#pragma once
// One backup run: start guards, pre-flight, the walk of the source with ScruteDossier1, the
// per-file copy decision and copy, counters, per-file report, end of run. Qt-free; the window
// (or a headless driver) takes part through RunView.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <sys/types.h>

#include "scheduler/core/commitqueue.h"
#include "scheduler/core/history.h"

namespace core {

class DailyLog;
class TScruteDossier;

struct RunJob {
  std::string source;   // Edit3
  std::string target;   // Edit4
  std::string filter = "*.*";  // Edit2
  bool subfolders = false;     // CheckBox1
  bool overwrite = false;      // CheckBox13
};

struct RunCounters {
  std::int32_t filesTreated = 0;
  std::int32_t filesCopied = 0;     // copies that ended whole in the target
  std::int32_t foldersScanned = 0;
  std::int32_t filesNotCopied = 0;  // copies decided that failed, were refused or cut short
  std::int32_t folderErrors = 0;    // folders that could be neither read nor made
};

// One row of the last-run list ListView3.
struct LastRunRow {
  int image = 7;  // 7 copied, 6 error
  std::string number, source, target, message, error;
};

struct TargetDrive {
  bool removable = false;  // removable, CD-ROM or RAM disk
  std::int64_t freeBytes = 0;
};

// The drive of a local target: removable, CD-ROM or RAM disk, with its free space then.
TargetDrive ProbeTargetDrive(const std::string& path);

// Reconnection of network computers (filled by the network list).
class RunNetwork {
 public:
  virtual ~RunNetwork() = default;
  // Whether the path can be used now: for "//computer/share/...", a local folder serves that
  // share; for "//computer" alone, the computer answers.
  virtual bool Reachable(const std::string& networkPath) = 0;
  virtual void Reconnect(const std::string& computer) = 0;
  // The local folder that serves a "//computer/share/..." path, "" when none does.
  virtual std::string LocalPath(const std::string& networkPath) = 0;
};

// What the run shows; every call has a default that does nothing.
class RunView {
 public:
  virtual ~RunView() = default;
  virtual void RunStarted(const RunJob&) {}  // stop buttons on, ListView3 cleared, tray hint
  virtual void RunEnded(const RunJob&) {}    // buttons back, run fields cleared, tray idle
  virtual void IdleMarker(bool /*idle*/) {}  // Edit12 "true" / "false"
  virtual void Panel(int /*index*/, std::int32_t /*value*/) {}  // status bar panel 0, 1 or 2
  virtual void CurrentFile(const std::string& /*path*/) {}
  virtual void Progress(int /*percent*/) {}
  virtual void Reported(const LastRunRow&) {}
  virtual void History(const HistoryRow&) {}
  // Beep, pop-up, e-mail, as chosen: once per failed run (a failed pre-flight, a target lost
  // during the walk, or at its end for a run that had errors).
  virtual void RaiseAlerts(const std::string& /*text*/) {}
};

enum class StartResult {
  Ran,            // the walk ran (to its end or stopped)
  SameFolder,     // target is the source or lies inside it (Label44)
  SystemRoot,     // target is "/" (Label45)
  Busy,           // a run is under way: nothing done
  PreflightFailed,
};

class BackupRun {
 public:
  // With bindWalker the walker's four events call the walk handlers below directly; a window
  // that binds them to handlers of its own passes false and calls them from there.
  BackupRun(TScruteDossier& walker, RunView& view, const DailyLog& log, bool bindWalker = true);
  ~BackupRun();
  BackupRun(const BackupRun&) = delete;
  BackupRun& operator=(const BackupRun&) = delete;

  std::function<bool()> LoggingOn;  // CheckBox_12; unset = off
  std::function<TargetDrive(const std::string& path)> ProbeDrive = ProbeTargetDrive;  // unset = fixed drive
  RunNetwork* Network = nullptr;   // unset: network paths are never present
  std::function<void()> Pump;      // throttled to PumpInterval
  std::chrono::milliseconds PumpInterval{30};
  std::uint64_t CopyThreshold = 6000ull * 1048576;  // above it a failed copy also logs the lock line

  // Button1Click: guards (same folder, "/"), then, when idle (the idle marker is "true" and
  // no run is under way), the pre-flight and the walk.
  StartResult Start(const RunJob& job, bool idleMarker = true);
  // The editor's "run now": the "/" guard before the same-folder guard.
  StartResult StartFromEditor(const RunJob& job);
  // Button13Click: network reconnection, folder tests, then the walk.
  StartResult Preflight(const RunJob& job);

  void RequestStop();
  // The program is quitting: the copy under way is cut short (its temp file goes), the walk
  // stops and its end is recorded as stopped; no run starts afterwards.
  void Abandon();
  // True from the pre-flight's start until the walk has fully unwound: nothing may start
  // another run meanwhile.
  bool Busy() const { return busy_; }

  const RunCounters& Counters() const { return counters_; }
  // The renames that replace targets, done while the walk goes on.
  CommitQueue& Commits() { return commits_; }
  bool TargetRemovable() const { return removable_; }
  std::int64_t FreeSpaceLeft() const { return freeSpaceLeft_; }

  // The walk's handlers (OnExecute, OnDossier, OnFichier, OnFinExecute).
  void WalkStarted();
  void FolderFound(const std::string& nom);
  void FileFound(TScruteDossier* sender, const std::string& nom);
  void WalkEnded();
  // Per-file report: code 7 copied, 6 error (history row and log line too). Rows come in the
  // order of the run: one made while earlier copies wait for their rename follows them.
  void Report(const std::string& number, int code, const std::string& target, const std::string& source,
              const std::string& message, const std::string& error);
  // Copies one file with progress and reports it under the current row number.
  void CopyOne(const std::string& nom, const std::string& target, std::uint64_t size);
  // A source folder the walker could not read: an error row and a log line.
  void FolderUnreadable(const std::string& nom, int error);

 private:
  void PreflightError(const std::string& message, const std::string& path, const HistoryRow& row,
                      const std::string& line);
  // The target's volume is no longer the one the walk started on (pulled out, unmounted, or
  // failing with `error` EIO, ENODEV or ENXIO): an error row and the alerts once, then the walk
  // stops; nothing is made on what took its place.
  bool TargetLost(const std::string& target, const std::string& nom, int error = 0, const std::string& number = {});
  bool Logging() const { return LoggingOn && LoggingOn(); }
  void Log(const std::string& line) const;
  void PumpMaybe();
  std::string LocalOf(const std::string& path) const;
  // Target folders are opened from the target root one level at a time, never through a
  // link; the open ancestors of the current folder are kept for the folders that follow.
  struct FolderOpen {
    int fd = -1;
    int error = 0;        // errno when fd is -1
    bool link = false;    // a link stands where a folder belongs
    bool created = false;  // the last level was made by this call
  };
  FolderOpen TargetFolder(const std::string& rel, bool create);
  // With `replacing` (a target stands under the name) the rename may be left to the commit
  // queue; its row then waits for it.
  void CopyInto(const std::string& nom, const FolderOpen& folder, const std::string& relFolder,
                const std::string& name, const std::string& target, std::uint64_t size, bool replacing = false);
  void CopyEnded(const std::string& number, const std::string& nom, const std::string& target, std::uint64_t size,
                 const platform::CopyResult& r);
  void ReportNow(const LastRunRow& row);
  // "3 fichiers non copiés", "Sauvegarde arrêtée, ..."; empty for a whole run.
  std::string Trouble() const;
  bool HadErrors() const;
  // Reports, in order, the held-back rows whose copies are in place; while more than `keep`
  // are held, waits for the first one (pumping events meanwhile).
  void Settle(std::size_t keep);
  int ChainFd(std::size_t index);
  void CloseTargetFolders();
  // The folder of the copy under way, and those of the renames still waiting, written to the
  // data folder one a line, so that a run killed in the middle has its temp files removed by
  // the next run.
  void RecordCopyFolder(int fd, const std::string& rel);
  void ClearCopyRecord();
  void RemoveRecordedTemps();

  TScruteDossier& walker_;
  RunView& view_;
  const DailyLog& log_;
  RunJob job_;
  std::string localSource_, localTarget_;  // the job's folders as the pre-flight found them
  std::string sourceRoot_, targetRoot_;    // the same, each ending with "/"
  RunCounters counters_;
  std::int32_t rowNumber_ = 0;  // "N°" of the last file row: every copy decided or refused
  std::int32_t cancelled_ = 0;  // copies cut short by Abandon: not copied, but no error
  bool alerted_ = false;        // the run's alerts have gone out
  bool quitting_ = false;       // Abandon was called: no run starts any more
  bool cutShort_ = false;       // the walk ended before its end: quit, no space, target lost
  bool removable_ = false;
  std::int64_t freeSpaceLeft_ = 0;
  bool busy_ = false;
  std::chrono::steady_clock::time_point lastPump_{};
  int rootFd_ = -1;
  struct ChainEntry {
    std::string rel;  // relative to the target root, no ending "/"
    int fd = -1;      // -1: closed to spare descriptors, opened again when needed
  };
  std::vector<ChainEntry> chain_;
  std::string failedRel_;  // a target folder that could not be opened, and why
  FolderOpen failed_;
  int recordFd_ = -1;
  std::vector<std::pair<std::string, std::string>> recorded_;  // folders on record: relative, full
  // A row held back behind copies still waiting for their rename, or such a copy.
  struct Held {
    std::shared_ptr<CommitQueue::Commit> commit;  // null for a row
    LastRunRow row;                               // a copy's number, source and target
    std::uint64_t size = 0;
    std::string folder;  // a copy's folder, relative to the target
  };
  std::deque<Held> held_;
  int settling_ = 0;  // rows reported meanwhile come next, not behind the held ones
  CommitQueue commits_;
  dev_t targetDevice_ = 0;  // file system of the target folder when the walk started
  bool targetLost_ = false;
};

// "//computer/share/..." paths; every POSIX path starts with one "/".
bool IsNetworkPath(const std::string& path);
// The computer of a network path ("" for a local one).
std::string NetworkComputer(const std::string& path);
// Target equal to the source or inside it: on resolved paths ("/a", "/a/" and a link to it
// are one folder), on the folders above the target, and on the folders of the file system
// that mounts show (a bind mount of a folder of the source).
bool TargetWithinSource(const std::string& target, const std::string& source);
// Target resolving to the root "/".
bool IsSystemRoot(const std::string& target);
// The platform's limits: a path of at most 4,095 bytes, every name in it of at most 255.
bool PathWithinLimits(const std::string& path);
// Name of the record of the copy under way, in the data folder.
inline constexpr const char* kCopyRecordName = "copie-en-cours";

}  // namespace core
