// The update interface: opens an update, gathers new, refreshed, renamed, changed and removed
// entries in the current directory, and commits them when the outermost update ends.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zaextract.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

std::string entryName(const std::string& name) {
  std::string n = ToSlashes(name);
  while (!n.empty() && n.front() == '/') n.erase(0, 1);
  return n;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Names in a folder, sorted, without "." and "..".
std::vector<std::string> folderNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

void TZABaseArchiver::ResetUpdateCount() {
  if (FUpdateCount <= 0) return;
  FUpdateCount = 0;
  if (FDirManager) FDirManager->CurrentDir.AssignDirItems(FDirManager->BackupDir);
  FNameIndexValid = false;
}

void TZABaseArchiver::BeginUpdate() {
  CheckActive();
  // An existing archive on several volumes is never rewritten; a new one is written once.
  if (spanningMode_ != smNone && (FFileOpenMode != kCreateArchiveMode || FVolumesCommitted)) {
    throw EZAException::CreateForCode(52, this);
  }
  // An archive opened for reading only (another writer held it) is never written.
  if (!inMemory_ && FFileOpenMode != kCreateArchiveMode && (FFileOpenMode & 0x3) == fmOpenRead) {
    throw EZAException::CreateForCode(32, this);
  }
  if (FUpdateCount++ == 0) {
    FDirManager->BackupDir.AssignDirItems(FDirManager->CurrentDir);
    FNameIndexValid = false;
  }
}

void TZABaseArchiver::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (FUpdateCount > 1) {
    --FUpdateCount;
    return;
  }
  CommitUpdate();
}

int TZABaseArchiver::FindEntry(const std::string& name) {
  if (!FDirManager) return -1;
  const TZADirArray& dir = FDirManager->CurrentDir;
  if (!FNameIndexValid) {
    FNameIndex.Build(dir);
    FNameIndexValid = true;
  }
  return FNameIndex.Find(dir, entryName(name));
}

namespace {

// Adds one disk file or folder (no recursion); an entry of the same name is refreshed.
void addDiskEntry(TZABaseArchiver& a, const std::string& full, bool isFolder, bool move) {
  std::string stored = StoredPathFor(full, a.BaseDir, a.Options.StorePath);
  if (stored.empty()) return;
  if (isFolder && stored.back() != '/') stored += '/';
  TZADirArray& dir = a.FDirManager->CurrentDir;
  int index = a.FindEntry(stored);
  const bool fresh = index < 0;
  if (fresh) {
    index = dir.DirItemCount();
    dir.SetDirItemCount(index + 1);
  }
  a.FillDiskFileInfo(index, full, true);
  TDirItem& item = dir.EditDirItem(index);
  if (!item.Modified) {
    if (fresh) dir.SetDirItemCount(index);
    return;
  }
  item.Operation = move ? poMove : (fresh ? poAdd : poUpdate);
  if (fresh) a.FNameIndex.Add(dir, index);
}

void addTree(TZABaseArchiver& a, const std::string& full, const struct stat& archive, bool haveArchive, bool move,
             bool withOwnEntry) {
  struct stat st {};
  if (::lstat(full.c_str(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    // A link to a file adds the file; a link to a folder is not followed (it may loop).
    if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  }
  if (haveArchive && sameFile(st, archive)) return;  // never the archive into itself
  if (S_ISREG(st.st_mode)) {
    addDiskEntry(a, full, false, move);
    return;
  }
  if (!S_ISDIR(st.st_mode)) return;  // devices, FIFOs and sockets hold no file data
  if (withOwnEntry) addDiskEntry(a, full, true, false);
  for (const std::string& name : folderNames(full)) addTree(a, full + "/" + name, archive, haveArchive, move, true);
}

}  // namespace

void TZABaseArchiver::AddFiles(const std::string& path, bool move) {
  CheckActive();
  if (!InUpdate()) throw EZAException::CreateForCode(25, this);
  std::string full = ToSlashes(ExpandWithBaseDir(BaseDir, path));
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  struct stat st {};
  if (::stat(full.c_str(), &st) != 0) throw EZAException::CreateForCodeFmt(11, this, {path});
  struct stat archive {};
  const bool haveArchive = !inMemory_ && ::stat(ToSlashes(FileName).c_str(), &archive) == 0;
  // The base folder itself has no entry of its own: its contents are stored relative to it.
  const std::string base = RemoveSlash(ToSlashes(ExpandAgainstBaseDir(ToSlashes(ExpandWithBaseDir(BaseDir, "")))));
  addTree(*this, full, archive, haveArchive, move, full != base);
}

void TZABaseArchiver::AddStream(TZAStream* stream, bool owns, const std::string& name) {
  std::unique_ptr<TZAStream> guard(owns ? stream : nullptr);
  CheckActive();
  if (!InUpdate()) throw EZAException::CreateForCode(25, this);
  const std::string stored = entryName(name);
  if (stored.empty() || stored.size() > kMaxStoredNameLength || stream == nullptr) {
    throw EZAException::CreateForCodeFmt(19, this, {name});
  }
  TZADirArray& dir = FDirManager->CurrentDir;
  int index = FindEntry(stored);
  const bool fresh = index < 0;
  if (fresh) {
    index = dir.DirItemCount();
    dir.SetDirItemCount(index + 1);
  }
  TDirItem& item = dir.EditDirItem(index);
  FillEntryFacts(item, stored, UnixToDosDateTime(std::time(nullptr)), 0x20, false, *this, FCompressionMethod);
  guard.release();
  item.SetSourceStream(stream, owns);
  item.EditPending().SourceFileName.clear();
  item.EditPending().SourcePosition = 0;
  item.Operation = fresh ? poAdd : poUpdate;
  if (fresh) FNameIndex.Add(dir, index);
}

TZABatchResult TZABaseArchiver::RefreshFiles(const std::string& fileMask) {
  CheckActive();
  if (!InUpdate()) throw EZAException::CreateForCode(25, this);
  CollectItems(fileMask, Options.SearchAttr, "");
  return ProcessFiles(poUpdate);
}

TZABatchResult TZABaseArchiver::DeleteFiles(const std::string& fileMask) {
  CheckActive();
  if (!InUpdate()) throw EZAException::CreateForCode(22, this);
  CollectItems(fileMask, Options.SearchAttr, "");
  return ProcessFiles(poDelete);
}

namespace {

// The index of the entry called name, for a change of its name, attributes or comment.
int entryToChange(TZABaseArchiver& a, const std::string& name) {
  a.CheckActive();
  if (!a.InUpdate()) throw EZAException::CreateForCode(25, &a);
  const int index = a.FindEntry(name);
  if (index < 0) throw EZAException::CreateForCodeFmt(11, &a, {name});
  return index;
}

// Marks a change that leaves the data as it is, unless the entry is written anew anyway or
// already renamed (its local header has to be rewritten then).
void markChanged(TDirItem& item, TZAProcessOperation op) {
  if (item.Modified && item.Operation != poChangeAttr && item.Operation != poChangeComment) return;
  item.Modified = true;
  item.Operation = op;
}

}  // namespace

void TZABaseArchiver::RenameFile(const std::string& oldName, const std::string& newName) {
  const int index = entryToChange(*this, oldName);
  const TDirItem& entry = FDirManager->CurrentDir.DirItemAt(index);
  std::string name = entryName(newName);
  const bool folder = (entry.ExternalAttributes & kFolderAttribute) || (!entry.Name().empty() && entry.Name().back() == '/');
  if (folder && !name.empty() && name.back() != '/') name += '/';
  if (name.empty() || name == "/" || name.size() > kMaxStoredNameLength) {
    throw EZAException::CreateForCodeFmt(19, this, {newName});
  }
  if (name == entry.Name()) return;
  TDirItem& item = FDirManager->CurrentDir.EditDirItem(index);
  const bool written = item.Modified && item.Operation != poRename && item.Operation != poChangeAttr &&
                       item.Operation != poChangeComment;
  if (!written) {
    if (item.Pending().OldName.empty()) item.EditPending().OldName = std::string(item.Name());
    item.Modified = true;
    item.Operation = poRename;
  }
  const std::string previous(item.Name());
  item.SetName(name);
  // The index follows the name: the entries of a folder renamed one by one cost no rebuild each.
  if (FNameIndexValid && !FNameIndex.Rename(FDirManager->CurrentDir, index, previous)) FNameIndexValid = false;
}

void TZABaseArchiver::SetFileAttributes(const std::string& name, uint32_t attributes) {
  TDirItem& item = FDirManager->CurrentDir.EditDirItem(entryToChange(*this, name));
  item.ExternalAttributes = attributes;
  markChanged(item, poChangeAttr);
}

void TZABaseArchiver::SetFileComment(const std::string& name, const std::string& comment) {
  TDirItem& item = FDirManager->CurrentDir.EditDirItem(entryToChange(*this, name));
  if (comment.size() > kSaturated16) throw EZAException::CreateForCodeFmt(19, this, {name});
  item.SetComment(comment);
  markChanged(item, poChangeComment);
}

}  // namespace ziparchive
