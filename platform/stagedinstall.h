#pragma once
// Puts a set of new files in place over a program folder so that the folder always holds one
// whole version. The files are first staged in a folder beside the program files; a journal,
// flushed to disk before the first rename, names every step, so when the installing process is
// killed the next start of either program finishes the install (or undoes it, when it was
// failing) and removes what was left beside the program files.
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// Names in the program folder.
inline constexpr const char* kInstallJournal = ".Quillomet-installation";
inline constexpr const char* kStagingPrefix = ".Quillomet-nouveau-";  // also the download in progress
inline constexpr const char* kBackupPrefix = ".Quillomet-ancien-";

// What an install records, flushed to disk, before its first rename: its steps in the order
// they are done, and whether it goes forward or is being undone.
struct InstallStep {
  char Kind;         // 'D' a folder to make, 'N' a new file, 'R' a file that replaces an installed one
  std::string Path;  // relative to the program folder
};
struct InstallJournal {
  bool Undo = false;
  std::string Staging;  // names of the staging and backup folders in the program folder
  std::string Backup;
  std::vector<InstallStep> Steps;
};
bool WriteInstallJournal(const std::filesystem::path& folder, const InstallJournal& journal);

struct InstallResult {
  bool Ok = false;
  int Files = 0;        // files put in place
  std::string Message;  // French text of the failure
};

// The right to install into a program folder: a lock on the folder itself, which ends with the
// process however it ends.
class InstallLock {
 public:
  InstallLock() = default;
  ~InstallLock();
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;
  // False when another process holds it or the folder cannot be opened.
  bool Acquire(const std::filesystem::path& folder);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A fresh staging folder in the program folder, so renames out of it stay on one file system.
// Empty on failure (errno tells why).
std::filesystem::path MakeStagingFolder(const std::filesystem::path& folder);

// Every regular file of staging goes to the same relative path in folder and the staging folder
// is removed. A file takes the mode of the installed file it replaces; programFile (a relative
// name) stays executable. Links and special files are refused, and so is a staging folder
// without any file; on any failure the folder keeps its old files. Call with the lock held.
InstallResult InstallStaged(const std::filesystem::path& staging, const std::filesystem::path& folder,
                            const std::string& programFile);

// Run at start: finishes an install a killed process left halfway (or undoes it when it was
// failing) and removes staging and backup folders left behind. Does nothing while another
// process installs. Ok when the folder holds one whole version afterwards.
InstallResult FinishInterruptedInstall(const std::filesystem::path& folder);

}  // namespace platform
