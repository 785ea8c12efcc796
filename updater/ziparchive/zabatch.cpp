// The batch loop: one operation over every selected entry, under the process-wide lock.
#include <algorithm>
#include <ctime>
#include <string>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zaextract.h"
#include "updater/ziparchive/zalock.h"

namespace ziparchive {

namespace {

std::string Backslashed(std::string name) {
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

bool ReportsProgress(TZAProcessOperation operation) { return operation == poExtract || operation == poTest; }

}  // namespace

void TZABaseArchiver::CollectItems(const std::string& fileMask, int32_t searchAttr, const std::string& exclusionMask) {
  if (!FDirManager) return;
  TZADirArray& dir = FDirManager->CurrentDir;
  dir.ClearDirItemSelection();
  TZAArchiveItem item;
  if (!FindFirstItem(fileMask, item, searchAttr, exclusionMask)) return;
  do {
    dir.EditDirItem(item.InternalSearchRec.ItemIndex).Selected = true;
  } while (FindNextItem(item));
}

TZABatchResult TZABaseArchiver::ProcessFiles(TZAProcessOperation operation) {
  TZALockGuard lock;
  // The folders held open for the batch are let go when it ends, however it ends.
  struct CloseFolders {
    std::unordered_map<std::string, TZAFolderRef>& open;
    ~CloseFolders() { open.clear(); }
  } closeFolders{FOpenFolders};
  FOpenFolders.clear();
  TZABatchResult result;
  FItemsDone = 0;
  FSelectedCount = 0;
  FCancel = false;
  FProgressEnabled = true;
  FUmask = CurrentUmask();
  FMadeDirs.clear();
  FFlushDevices.clear();  // drives may have come or gone since the last batch
  tzset();  // entry dates are then converted without reading the zone again
  TZADirArray* dir = FDirManager ? &FDirManager->CurrentDir : nullptr;
  if (dir)
    for (int i = 0; i < dir->DirItemCount(); ++i)
      if (dir->DirItemAt(i).Selected) ++FSelectedCount;

  const bool reports = ReportsProgress(operation);
  TZAAction action = fxaIgnore;
  if (reports) DoOverallProgress(0, operation, ppStart, FCancel);
  // A batch cancelled before it began has no end to report.
  const bool cancelledAtStart = FCancel;
  for (int i = 0; dir && !FCancel && i < dir->DirItemCount();) {
    if (!dir->DirItemAt(i).Selected) {
      ++i;
      continue;
    }
    dir->EditDirItem(i).Operation = operation;
    const int countBefore = dir->DirItemCount();
    do {
      action = fxaIgnore;
      const std::string name = Backslashed(std::string(dir->DirItemAt(i).Name()));
      try {
        bool confirm = true;
        DoConfirmProcessFile(name, operation, confirm);
        if (!confirm) {
          ++result.Skipped;
          break;
        }
        const std::string baseDir = ExpandAgainstBaseDir(BaseDir);
        if (reports) {
          DoFileProgress(name, 0, operation, ppStart, FCancel);
          if (FCancel) break;
        }
        FSkip = false;
        TZAItemOutcome outcome = TZAItemOutcome::Done;
        switch (operation) {
          case poDelete: ProcessDeleteItem(i); break;
          case poUpdate: outcome = ProcessUpdateItem(i, name, baseDir); break;
          case poExtract: outcome = ExtractItemToFile(i, name, baseDir); break;
          case poTest: outcome = ProcessTestItem(i, name); break;
          default: break;
        }
        if (outcome == TZAItemOutcome::Done) ++result.Done;
        else if (outcome == TZAItemOutcome::Skipped) ++result.Skipped;
        const bool cancelled = FCancel;
        if (reports) DoFileProgress(name, 100, operation, ppEnd, FCancel);
        FCancel = cancelled || FCancel;
        if (FCancel) break;
        ++FItemsDone;
      } catch (const EZAException& e) {
        DoProcessFileFailure(name, operation, e.NativeError, e.ErrorCode, e.Message(), action);
        if (action != fxaRetry) ++result.Failed;
      } catch (const EZAStreamError& s) {
        // A stream failure is the engine's too: the failure event decides, as for any other.
        const EZAException e = EZAException::CreateForCode(46, this).AppendDetail(s.what());
        DoProcessFileFailure(name, operation, e.NativeError, e.ErrorCode, e.Message(), action);
        if (action != fxaRetry) ++result.Failed;
      }
    } while (action == fxaRetry);
    if (action == fxaAbort || FCancel) break;
    if (!(operation == poDelete && dir->DirItemCount() < countBefore)) ++i;
  }
  if (reports && !cancelledAtStart) {
    const bool cancelled = FCancel;
    DoOverallProgress(100, operation, ppEnd, FCancel);
    FCancel = cancelled || FCancel;
  }
  result.Cancelled = FCancel;
  result.Aborted = action == fxaAbort;
  if (result.Cancelled || result.Aborted) ResetUpdateCount();
  return result;
}

TZAItemOutcome TZABaseArchiver::ProcessTestItem(int index, const std::string&) {
  if (FDirManager->CurrentDir.DirItemAt(index).ExternalAttributes & 0x10) return TZAItemOutcome::Done;
  // The content is checked in full and then dropped; nothing reaches the disk.
  TZADiscardStream sink;
  ExtractItemToStream(index, sink);
  if (FSkip) return TZAItemOutcome::Skipped;
  return FCancel ? TZAItemOutcome::Cancelled : TZAItemOutcome::Done;
}

TZAItemOutcome TZABaseArchiver::ProcessUpdateItem(int index, const std::string& name, const std::string& baseDir) {
  const TDirItem& item = FDirManager->CurrentDir.DirItemAt(index);
  if (item.ExternalAttributes & 0x10) return TZAItemOutcome::Done;
  const std::string diskFile = ExpandWithBaseDir(baseDir, name);
  const TZAExistingTarget disk = InspectTarget(diskFile);
  if (!disk.Exists) return TZAItemOutcome::Skipped;
  if (!Options.ReplaceReadOnly && (item.ExternalAttributes & 0x01)) return TZAItemOutcome::Skipped;
  const uint32_t entryTime = DosDateTime(item.LastModDate, item.LastModTime);
  bool go = true;
  switch (Options.OverwriteMode) {
    case omPrompt: {
      std::string source = diskFile;
      std::string dest = name;
      DoConfirmOverwrite(source, dest, go);
      break;
    }
    case omAlways: break;
    case omNever: go = false; break;
    case omIfNewer: go = entryTime < disk.DosTime; break;
    case omIfOlder: go = disk.DosTime < entryTime; break;
  }
  if (!go) return TZAItemOutcome::Skipped;
  PrepareItemUpdate(index, diskFile);
  return TZAItemOutcome::Done;
}

void TZABaseArchiver::ProcessDeleteItem(int index) { DeleteDirEntry(index); }

TDirItem& TZABaseArchiver::PrepareItemUpdate(int index, const std::string& diskFile) {
  TZADirArray& dir = FDirManager->CurrentDir;
  if (index < 0 || index >= dir.DirItemCount()) throw EZAException::CreateForCode(24, this);
  if (!InUpdate()) throw EZAException::CreateForCode(25, this);
  // A refresh never renames: the entry keeps its name whatever the store-path mode makes of
  // the disk file's.
  const std::string name(dir.DirItemAt(index).Name());
  FillDiskFileInfo(index, diskFile, true);
  TDirItem& item = dir.EditDirItem(index);
  item.SetName(name);
  item.Operation = poUpdate;
  return item;
}

void TZABaseArchiver::DeleteDirEntry(int index) {
  TZADirArray& dir = FDirManager->CurrentDir;
  if (index < 0 || index >= dir.DirItemCount()) throw EZAException::CreateForCode(21, this);
  if (!InUpdate()) throw EZAException::CreateForCode(22, this);
  dir.DeleteDirItem(index);
  FNameIndexValid = false;
}

void TZABaseArchiver::DeleteDirEntries(std::vector<int> indexes) {
  TZADirArray& dir = FDirManager->CurrentDir;
  for (int index : indexes)
    if (index < 0 || index >= dir.DirItemCount()) throw EZAException::CreateForCode(21, this);
  if (!InUpdate()) throw EZAException::CreateForCode(22, this);
  dir.DeleteDirItems(std::move(indexes));
  FNameIndexValid = false;
}

}  // namespace ziparchive
