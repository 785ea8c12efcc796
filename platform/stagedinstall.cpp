#include "platform/stagedinstall.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/errortext.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr char kJournalHeader[] = "QUILLOMET-INSTALLATION 1";
constexpr char kJournalEnd[] = "FIN";

using Step = InstallStep;
using Journal = InstallJournal;

std::string Failure(const char* what, const fs::path& path, int err) {
  return std::string(what) + " « " + path.string() + " » : " + platform::SystemErrorText(err);
}

// The entry's status without following a link; false when nothing is there.
bool Lstat(const fs::path& p, struct stat& st) { return ::lstat(p.c_str(), &st) == 0; }

bool Exists(const fs::path& p) {
  struct stat st;
  return Lstat(p, st);
}

// ---- the journal on disk: NUL-ended fields, so any file name fits ----

std::string Encode(const Journal& j) {
  std::string out;
  auto field = [&out](const std::string& s) {
    out += s;
    out += '\0';
  };
  field(kJournalHeader);
  field(j.Undo ? "annuler" : "terminer");
  field(j.Staging);
  field(j.Backup);
  for (const auto& s : j.Steps) field(s.Kind + s.Path);
  field(kJournalEnd);
  return out;
}

// A relative path that stays inside the folder.
bool SafeRelative(const std::string& p) {
  if (p.empty() || p.front() == '/') return false;
  for (const auto& part : fs::path(p)) {
    const std::string s = part.string();
    if (s.empty() || s == "." || s == "..") return false;
  }
  return true;
}

bool Decode(const std::string& bytes, Journal& j) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t nul; (nul = bytes.find('\0', start)) != std::string::npos; start = nul + 1)
    fields.push_back(bytes.substr(start, nul - start));
  if (start != bytes.size() || fields.size() < 5 || fields.front() != kJournalHeader ||
      fields.back() != kJournalEnd)
    return false;
  if (fields[1] != "annuler" && fields[1] != "terminer") return false;
  j.Undo = fields[1] == "annuler";
  j.Staging = fields[2];
  j.Backup = fields[3];
  if (j.Staging.rfind(kStagingPrefix, 0) != 0 || j.Backup.rfind(kBackupPrefix, 0) != 0 ||
      j.Staging.find('/') != std::string::npos || j.Backup.find('/') != std::string::npos)
    return false;
  for (size_t i = 4; i + 1 < fields.size(); ++i) {
    const std::string& f = fields[i];
    if (f.size() < 2 || (f[0] != 'D' && f[0] != 'N' && f[0] != 'R') || !SafeRelative(f.substr(1))) return false;
    j.Steps.push_back({f[0], f.substr(1)});
  }
  return true;
}

// ---- the steps ----

// Puts every staged file in place; a file already gone from the staging folder is in place.
// The installed file is kept in the backup folder first (a second link, so the path never
// lacks a file; moved where links are not supported). Empty on success, else the failure.
std::string Advance(const fs::path& folder, const Journal& j) {
  const fs::path staging = folder / j.Staging, backup = folder / j.Backup;
  for (const auto& s : j.Steps) {
    if (s.Kind != 'D') continue;
    const fs::path dest = folder / s.Path;
    struct stat st;
    if (Lstat(dest, st) && S_ISDIR(st.st_mode)) continue;
    if (::mkdir(dest.c_str(), 0755) != 0) return Failure("impossible de créer le dossier", dest, errno);
  }
  fs::path madeBackupFolder;
  for (const auto& s : j.Steps) {
    if (s.Kind == 'D') continue;
    const fs::path source = staging / s.Path, dest = folder / s.Path;
    if (!Exists(source)) continue;
    if (s.Kind == 'R') {
      const fs::path saved = backup / s.Path;
      if (!Exists(saved) && Exists(dest)) {
        if (saved.parent_path() != madeBackupFolder) {
          std::error_code ec;
          fs::create_directories(saved.parent_path(), ec);
          if (ec) return Failure("impossible de créer le dossier", saved.parent_path(), ec.value());
          madeBackupFolder = saved.parent_path();
        }
        if (::link(dest.c_str(), saved.c_str()) != 0 && ::rename(dest.c_str(), saved.c_str()) != 0)
          return Failure("impossible de remplacer", dest, errno);
      }
    }
    if (::rename(source.c_str(), dest.c_str()) != 0) return Failure("impossible d'installer", dest, errno);
  }
  return {};
}

// Puts the installed files back, removes the new ones and the folders made for them. Empty
// when the old version is whole again.
std::string Retreat(const fs::path& folder, const Journal& j) {
  const fs::path staging = folder / j.Staging, backup = folder / j.Backup;
  std::string failure;
  for (auto s = j.Steps.rbegin(); s != j.Steps.rend(); ++s) {
    const fs::path dest = folder / s->Path;
    struct stat st;
    if (s->Kind == 'R') {
      const fs::path saved = backup / s->Path;
      if (Exists(saved) && ::rename(saved.c_str(), dest.c_str()) != 0 && failure.empty())
        failure = Failure("impossible de remettre en place", dest, errno);
    } else if (s->Kind == 'N') {
      if (!Exists(staging / s->Path) && Lstat(dest, st) && !S_ISDIR(st.st_mode) && ::unlink(dest.c_str()) != 0 &&
          failure.empty())
        failure = Failure("impossible de retirer", dest, errno);
    } else {
      ::rmdir(dest.c_str());  // only when empty
    }
  }
  return failure;
}

// Makes the renames durable, then drops the journal and the staging and backup folders.
void Complete(const fs::path& folder, const Journal& j) {
  std::set<fs::path> touched{folder};
  for (const auto& s : j.Steps) touched.insert((folder / s.Path).parent_path());
  for (const auto& dir : touched) SyncFolder(dir.string());
  ::unlink((folder / kInstallJournal).c_str());
  SyncFolder(folder.string());
  std::error_code ignored;
  fs::remove_all(folder / j.Staging, ignored);
  fs::remove_all(folder / j.Backup, ignored);
}

int CountFiles(const Journal& j) {
  return int(std::count_if(j.Steps.begin(), j.Steps.end(), [](const Step& s) { return s.Kind != 'D'; }));
}

// Carries a journaled install to its end: forward, or back once a step fails. The journal
// stays while the folder is not whole, so the next start tries again.
InstallResult Apply(const fs::path& folder, Journal& j) {
  InstallResult result;
  if (!j.Undo) {
    const std::string failure = Advance(folder, j);
    if (failure.empty()) {
      Complete(folder, j);
      result.Ok = true;
      result.Files = CountFiles(j);
      return result;
    }
    result.Message = failure;
    j.Undo = true;
    WriteInstallJournal(folder, j);
  }
  const std::string undone = Retreat(folder, j);
  if (undone.empty()) {
    Complete(folder, j);
  } else {
    if (!result.Message.empty()) result.Message += " ; ";
    result.Message += undone + " (nouvel essai au prochain démarrage)";
  }
  if (result.Message.empty()) result.Message = "installation interrompue, l'ancienne version a été remise en place";
  return result;
}

// Mode for a staged file: the replaced file's, else its own without set-user, set-group, sticky
// and group or other write bits; the program stays executable.
mode_t InstalledMode(mode_t staged, const fs::path& replaced, bool program) {
  struct stat st;
  mode_t mode = ::stat(replaced.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 0777) : (staged & 0755);
  if (program) mode |= 0100 | ((mode & 0444) >> 2);
  return mode;
}

// Flushes every file of the file system that holds the path: one call for a whole staging
// folder instead of one per file.
bool SyncFileSystem(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::syncfs(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool WriteInstallJournal(const fs::path& folder, const InstallJournal& journal) {
  return WriteFileAtomic(folder / kInstallJournal, Encode(journal), 0600);
}

InstallLock::~InstallLock() { Release(); }

bool InstallLock::Acquire(const fs::path& folder) {
  Release();
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return false;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    Release();
    return false;
  }
  return true;
}

void InstallLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

fs::path MakeStagingFolder(const fs::path& folder) {
  std::string tmpl = (folder / (std::string(kStagingPrefix) + "XXXXXX")).string();
  if (!::mkdtemp(tmpl.data())) return {};
  return tmpl;
}

InstallResult InstallStaged(const fs::path& staging, const fs::path& folder, const std::string& programFile) {
  InstallResult result;
  std::vector<std::string> folders, files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) {
    const auto type = it->symlink_status(ec).type();
    if (ec) break;
    const std::string rel = it->path().lexically_relative(staging).string();
    if (type == fs::file_type::directory) {
      folders.push_back(rel);
    } else if (type == fs::file_type::regular) {
      files.push_back(rel);
    } else {
      result.Message = "la mise à jour contient un lien ou un fichier spécial, qui ne sera pas installé : « " + rel + " »";
      return result;
    }
  }
  if (ec) {
    result.Message = Failure("lecture impossible de", staging, ec.value());
    return result;
  }
  // Only files count: folders alone install nothing.
  if (files.empty()) {
    result.Message = "l'archive ne contient aucun fichier";
    return result;
  }
  // Sorted, a folder comes before what it holds.
  std::sort(folders.begin(), folders.end());
  std::sort(files.begin(), files.end());

  Journal j;
  j.Staging = staging.filename().string();
  for (const auto& rel : folders) {
    const fs::path dest = folder / rel;
    struct stat st;
    if (!Lstat(dest, st)) j.Steps.push_back({'D', rel});
    else if (!S_ISDIR(st.st_mode)) {
      result.Message = Failure("un fichier occupe la place du dossier", dest, ENOTDIR);
      return result;
    }
  }
  for (const auto& rel : files) {
    const fs::path dest = folder / rel, source = staging / rel;
    struct stat st, staged;
    const bool replaces = Lstat(dest, st);
    if (replaces && S_ISDIR(st.st_mode)) {
      result.Message = Failure("un dossier occupe la place du fichier", dest, EISDIR);
      return result;
    }
    if (replaces && !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
      result.Message = "un fichier spécial (tube, socket ou périphérique) occupe la place du fichier « " + dest.string() + " »";
      return result;
    }
    if (!Lstat(source, staged)) {
      result.Message = Failure("lecture impossible de", source, errno);
      return result;
    }
    const mode_t mode = InstalledMode(staged.st_mode, dest, rel == programFile);
    if (mode != (staged.st_mode & 07777) && ::chmod(source.c_str(), mode) != 0) {
      result.Message = Failure("impossible de préparer", source, errno);
      return result;
    }
    j.Steps.push_back({replaces ? 'R' : 'N', rel});
  }
  // The staged files are on disk before the journal points at them.
  if (!SyncFileSystem(staging)) {
    result.Message = Failure("écriture impossible dans", staging, errno);
    return result;
  }
  std::string backup = (folder / (std::string(kBackupPrefix) + "XXXXXX")).string();
  if (!::mkdtemp(backup.data())) {
    result.Message = Failure("impossible de créer un dossier dans", folder, errno);
    return result;
  }
  j.Backup = fs::path(backup).filename().string();
  if (!WriteInstallJournal(folder, j)) {
    result.Message = Failure("impossible d'écrire", folder / kInstallJournal, errno);
    fs::remove_all(backup, ec);
    return result;
  }
  return Apply(folder, j);
}

InstallResult FinishInterruptedInstall(const fs::path& folder) {
  InstallResult result;
  InstallLock lock;
  if (!lock.Acquire(folder)) {
    result.Ok = true;  // another process installs, or nothing can be installed here
    return result;
  }
  const fs::path journalPath = folder / kInstallJournal;
  if (Exists(journalPath)) {
    std::ifstream in(journalPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Journal j;
    if (!in.good() && !in.eof()) {
      result.Message = Failure("lecture impossible de", journalPath, errno);
      return result;
    }
    if (!Decode(bytes, j)) {
      result.Message = "le journal d'installation « " + journalPath.string() + " » est illisible";
      return result;
    }
    result = Apply(folder, j);
    // Undone is whole too; a journal still there means the folder is not.
    if (Exists(journalPath)) return result;
  }
  // What a run killed before its journal or after its end left beside the program files. The
  // journal's own temp file ("." + its name + ".XXXXXX") goes too.
  const std::string journalTemp = std::string(".") + kInstallJournal + ".";
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kStagingPrefix, 0) == 0 || name.rfind(kBackupPrefix, 0) == 0 || name.rfind(journalTemp, 0) == 0) {
      std::error_code ignored;
      fs::remove_all(it->path(), ignored);
    }
  }
  result.Ok = true;
  return result;
}

}  // namespace platform
