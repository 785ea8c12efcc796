// One entry to a disk file or to a stream.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zaextract.h"
#include "updater/ziparchive/zapaths.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

constexpr size_t kMadeDirsKept = 4096;
constexpr size_t kOpenFoldersKept = 64;  // well below the descriptor limit

bool IsFolderEntry(const TDirItem& item) {
  return (item.ExternalAttributes & kFolderAttribute) || (!item.Name().empty() && item.Name().back() == '/');
}

}  // namespace

bool TZABaseArchiver::FlushesFilesIn(const std::string& folder) {
  if (!Options.FlushBuffers) return false;
  if (!DrivePart(folder).empty()) return IsRemovableDrive(folder);
  // The mount table and /sys are read once per device, whatever order the folders come in.
  dev_t device;
  if (const auto made = FMadeDirs.find(folder); made != FMadeDirs.end()) {
    device = made->second.Device;
  } else {
    struct stat st {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return IsRemovableDrive(folder);
    device = st.st_dev;
  }
  for (const auto& [known, flushes] : FFlushDevices)
    if (known == device) return flushes;
  const bool flushes = IsRemovableDrive(folder);
  FFlushDevices.emplace_back(device, flushes);
  return flushes;
}

TZAFolderRef TZABaseArchiver::OpenFolderOf(const std::string& folder) {
  if (const auto known = FOpenFolders.find(folder); known != FOpenFolders.end()) return known->second;
  TZAFolderRef opened = OpenFolder(folder);
  if (!opened) return nullptr;
  if (FOpenFolders.size() >= kOpenFoldersKept) FOpenFolders.clear();
  FOpenFolders.emplace(folder, opened);
  return opened;
}

TZAItemOutcome TZABaseArchiver::ExtractItemToFile(int index, const std::string& name, const std::string& baseDir) {
  const TDirItem& item = FDirManager->CurrentDir.DirItemAt(index);
  uint32_t attributes = item.ExternalAttributes;
  std::string fileName = name;
  DoExtractFile(fileName, attributes, std::string(item.Comment()));
  const bool isFolder = IsFolderEntry(item);

  TZAExtractTarget target = ResolveExtractTarget(baseDir, fileName, isFolder, Options.CreateDirs, fileName != name);
  if (target.Refused) throw EZAException::CreateForCodeFmt(19, this, {fileName});
  // A folder made for an earlier entry of the batch is not looked at again.
  const std::string folder = target.Folder.string();
  auto makeFolder = [&] {
    FOpenFolders.erase(folder);
    bool made = false;
    if (!MakeDirs(folder, &made)) throw EZAException::CreateForCodeFmt(20, this, {folder});
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return;
    // Bounded, for archives of very many folders: a folder forgotten is only made again.
    if (FMadeDirs.size() >= kMadeDirsKept) FMadeDirs.clear();
    FMadeDirs[folder] = {st.st_dev, made};
  };
  if (Options.CreateDirs && !folder.empty() && !FMadeDirs.count(folder)) makeFolder();
  if (isFolder) return TZAItemOutcome::Done;

  // Names are looked up in the folder held open; paths only for a folder that cannot be.
  TZAFolderRef at = OpenFolderOf(folder);
  // In a folder the batch made, a name is taken as free and the rename may not replace: the
  // few names found taken after all (an archive holding a name twice) are done again in full.
  const auto made = FMadeDirs.find(folder);
  const bool presumedFree = at && made != FMadeDirs.end() && made->second.Fresh;
  TZAExistingTarget existing;
  if (!presumedFree)
    existing = at ? InspectTargetIn(*at, target.File.filename().string()) : InspectTarget(target.File);
  if (existing.Exists) {
    if (!Options.ReplaceReadOnly && existing.ReadOnly) return TZAItemOutcome::Skipped;
    const uint32_t entryTime = DosDateTime(item.LastModDate, item.LastModTime);
    switch (Options.OverwriteMode) {
      case omPrompt: {
        std::string dest = target.File.string();
        bool confirm = true;
        DoConfirmOverwrite(fileName, dest, confirm);
        if (!confirm) return TZAItemOutcome::Skipped;
        if (dest != target.File.string()) {
          target.File = dest;
          at = nullptr;  // somewhere else: by its path
          existing = InspectTarget(target.File);
        }
        break;
      }
      case omAlways: break;
      case omNever: return TZAItemOutcome::Skipped;
      case omIfNewer:
        if (KeepExistingByTime(TZAOverwriteRule::IfNewer, existing.DosTime, entryTime)) return TZAItemOutcome::Skipped;
        break;
      case omIfOlder:
        if (KeepExistingByTime(TZAOverwriteRule::IfOlder, existing.DosTime, entryTime)) return TZAItemOutcome::Skipped;
        break;
    }
  }
  if (existing.IsFolder) throw EZAException::CreateForCodeFmt(19, this, {target.File.string()});

  const TDirItem& entry = FDirManager->CurrentDir.DirItemAt(index);
  const mode_t mode = ExtractedFileMode(entry.VersionMadeBy, attributes, Options.SetAttributes, existing.Mode, FUmask);
  TZASafeFileWriter writer;
  if (!writer.Open(target.File, mode, FUmask, at)) {
    // The folder may have gone since it was made: make it once more.
    if (errno == ENOENT && Options.CreateDirs && FMadeDirs.erase(folder)) {
      makeFolder();
      if (at) at = OpenFolderOf(folder);
    }
    if (!writer.IsOpen() && !writer.Open(target.File, mode, FUmask, at))
      throw EZAException::CreateForCodeFmt(19, this, {target.File.string()});
  }
  {
    TZAFileStream out(writer.Fd(), false, writer.TempPath().string());
    ExtractItemToStream(index, out);  // on a raise the writer removes its temp file
  }
  if (FCancel || FSkip) return FCancel ? TZAItemOutcome::Cancelled : TZAItemOutcome::Skipped;
  const TDirItem& done = FDirManager->CurrentDir.DirItemAt(index);
  const time_t mtime = DosDateTimeToUnix(DosDateTime(done.LastModDate, done.LastModTime));
  if (!writer.Commit(mode, mtime, FlushesFilesIn(target.File.parent_path().string()), presumedFree)) {
    const auto again = FMadeDirs.find(folder);
    if (presumedFree && (errno == EEXIST || errno == EINVAL) && again != FMadeDirs.end()) {
      again->second.Fresh = false;  // EINVAL: a file system without no-replace renames
      return ExtractItemToFile(index, name, baseDir);
    }
    throw EZAException::CreateForCodeFmt(19, this, {target.File.string()});
  }
  return TZAItemOutcome::Done;
}

void TZABaseArchiver::ExtractItemToStream(int index, TZAStream& stream) {
  if (!FDirManager || index < 0 || index >= FDirManager->CurrentDir.DirItemCount())
    throw EZAException::CreateForCode(16, this);
  const TDirItem& item = FDirManager->CurrentDir.DirItemAt(index);
  // The volume that holds the local header becomes the archive stream, placed at the header.
  TZAVolumeNumberInfo volume;
  if (FDirManager->IsZip64) {
    volume.LastVolumeNumber = static_cast<int32_t>(FDirManager->Zip64LocatorFields().TotalVolumes) - 1;
  } else {
    const TZAEndRecord end = FDirManager->EndRecordFields();
    volume.LastVolumeNumber = end.ThisVolume == kSaturated16 ? 0 : end.ThisVolume;
  }
  volume.SetVolumeNumber(item.DiskNumberStart == kSaturated16 ? static_cast<int32_t>(item.Zip64DiskNumberStart)
                                                              : item.DiskNumberStart);
  OpenVolume(volume);
  FArchiveStream->SetPosition(EffectiveLocalHeaderOffset(item));
  if (!DecompressItem(*FArchiveStream, stream, item) && !FCancel && !ExtractCorruptedFiles && !FSkip)
    throw EZAException::CreateForCode(8, this);
}

}  // namespace ziparchive
