#pragma once
// The archive component: published properties, events, options, open/close/search/extract.
// Steps of the engine that live in other files are members of TZABaseArchiver too.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "updater/ziparchive/zaarchivelock.h"
#include "updater/ziparchive/zabatch.h"
#include "updater/ziparchive/zadirarray.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaextract.h"
#include "updater/ziparchive/zajournal.h"
#include "updater/ziparchive/zanameindex.h"
#include "updater/ziparchive/zapaths.h"
#include "updater/ziparchive/zaprompter.h"
#include "updater/ziparchive/zaspanning.h"
#include "updater/ziparchive/zastreams.h"
#include "updater/ziparchive/zavolumes.h"

namespace ziparchive {

class TZABaseArchiver;
class TZADirManager;

enum TZACompressionLevel : uint8_t { clNone, clFastest, clNormal, clMax };
enum TZAProgressPhase : uint8_t { ppStart, ppProcess, ppEnd };
enum TZAAction : uint8_t { fxaRetry, fxaIgnore, fxaAbort };
enum TZAFileShareMode : uint8_t { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TZAOverwriteMode : uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZip64Mode : uint8_t { zmDisabled, zmAuto, zmAlways };

// Open mode that creates a new archive.
inline constexpr uint16_t kCreateArchiveMode = 0xFFFF;
// OpenArchive's modes for an existing file: read-write denying writers, else read-only.
inline constexpr uint16_t kOpenReadWriteDenyWrite = fmOpenReadWrite | fmShareDenyWrite;  // 0x22
inline constexpr uint16_t kOpenReadDenyNone = fmOpenRead | fmShareDenyNone;              // 0x40
// The search attributes kept with the options.
inline constexpr int32_t kDefaultSearchAttr = 0x28BF;

class TZAOptions {
 public:
  bool Recurse = true;
  TZAStorePathMode StorePath = spRelativePath;
  TZAFileShareMode ShareMode = smShareDenyNone;
  TZAOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;
  bool ReplaceReadOnly = true;
  bool SetAttributes = true;
  int32_t SearchAttr = kDefaultSearchAttr;
  bool FlushBuffers = true;
  bool OEMFileNames = true;

  // Copies every option but ShareMode.
  void Assign(const TZAOptions& source);
};

using TZANotifyEvent = std::function<void(TZABaseArchiver* Sender)>;
using TZAFileProgressEvent = std::function<void(TZABaseArchiver* Sender, const std::string& FileName, double Progress,
                                                TZAProcessOperation Operation, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAProgressEvent = std::function<void(TZABaseArchiver* Sender, double Progress, TZAProcessOperation Operation,
                                            TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZACopyTempFileProgressEvent =
    std::function<void(TZABaseArchiver* Sender, double Progress, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAConfirmOverwriteEvent = std::function<void(TZABaseArchiver* Sender, const std::string& SourceFileName,
                                                    std::string& DestFileName, bool& Confirm)>;
using TZAConfirmProcessFileEvent = std::function<void(TZABaseArchiver* Sender, const std::string& FileName,
                                                      TZAProcessOperation Operation, bool& Confirm)>;
using TZAOnPasswordEvent = std::function<void(TZABaseArchiver* Sender, const std::string& FileName,
                                              std::string& NewPassword, bool& SkipFile)>;
using TZAProcessFileFailureEvent =
    std::function<void(TZABaseArchiver* Sender, const std::string& FileName, TZAProcessOperation Operation,
                       int32_t NativeError, int32_t ErrorCode, const std::string& ErrorMessage, TZAAction& Action)>;
using TZAOnRequestBlankVolumeEvent =
    std::function<void(TZABaseArchiver* Sender, int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestFirstVolumeEvent =
    std::function<void(TZABaseArchiver* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TZAOnRequestLastVolumeEvent = TZAOnRequestFirstVolumeEvent;
using TZAOnRequestMiddleVolumeEvent = TZAOnRequestBlankVolumeEvent;
using TZAOnDiskFullEvent =
    std::function<void(TZABaseArchiver* Sender, int32_t VolumeNumber, const std::string& VolumeFileName, bool& Cancel)>;
using TZAOnStoreFileEvent = std::function<void(TZABaseArchiver* Sender, std::string& FileName, uint32_t& FileAttr,
                                               std::string& Comment, const std::string& OriginalFileName)>;
using TZAOnExtractFileEvent = std::function<void(TZABaseArchiver* Sender, std::string& FileName, uint32_t& FileAttr,
                                                 const std::string& Comment)>;
using TZAProcessVolumeFailureEvent =
    std::function<void(TZABaseArchiver* Sender, const std::string& VolumeFileName, TZAAction& Action)>;

// A temporary file that is deleted with its owner unless kept (the only copy of data).
struct TZATempFile {
  TZATempFile() = default;
  ~TZATempFile() { Delete(); }
  TZATempFile(const TZATempFile&) = delete;
  TZATempFile& operator=(const TZATempFile&) = delete;
  // Closes the stream and deletes the file, unless Keep was set (then only closes).
  void Delete();
  std::unique_ptr<TZAStream> Stream;
  std::string Name;  // empty for a tail kept in memory
  bool Keep = false;
};

// State of one commit (zacommit.cpp).
struct TZACommitState {
  int Start = 0;
  int64_t CutPosition = 0;
  bool Cut = false;  // the archive was cut: a failure has to put the tail back
  // An archive file is locked from before its tail is saved until the commit ends (kept
  // first: it goes last).
  std::unique_ptr<TZAArchiveLock> Lock;
  TZATempFile Temp;  // the old tail: entries from Start on and the old directory
  std::unique_ptr<TZACommitJournal> Journal;  // beside an archive file: holds the tail of Temp
  std::unique_ptr<TZAMemoryStream> EntryCache;
  TZAAction Action = fxaIgnore;
  TZAProcessOperation FirstOperation = poDelete;
  std::unique_ptr<TZAStream> ItemSource;  // disk file opened by WriteChangedItem
  int64_t SourceSavedPosition = 0;
  std::vector<std::string> MovedSources;  // moved entries that were written
  // Old entries by name, each index taken once (duplicate names keep their own data).
  TZANameGroups BackupByName;
  // New local header offsets of the entries from Start on that were only moved, written into
  // them once the old directory is gone.
  TZAMovedOffsets Moved;
  int64_t OldTailEnd = 0;           // where the old entries end: the old directory's start
  int64_t TailSize = 0;             // bytes of the old tail in Temp
  std::vector<uint8_t> Buffer;
};

class TZABaseArchiver {
 public:
  TZABaseArchiver();
  virtual ~TZABaseArchiver();
  TZABaseArchiver(const TZABaseArchiver&) = delete;
  TZABaseArchiver& operator=(const TZABaseArchiver&) = delete;

  // ---- published properties ----
  std::string Name;  // component name, put in front of exception messages
  bool ExtractCorruptedFiles = false;
  TZACompressionLevel CompressionLevel() const { return compressionLevel_; }
  void SetCompressionLevel(TZACompressionLevel level);
  uint8_t CompressionMode() const { return compressionMode_; }
  // Outside 0..9: code 5, nothing changes.
  void SetCompressionMode(int mode);
  std::string CurrentVersion() const;
  void SetCurrentVersion(const std::string&) {}
  std::string Password;
  std::string FileName;
  std::string BaseDir;
  std::string TempDir;
  TZASpanningMode SpanningMode() const { return spanningMode_; }
  // Refused while an archive is open (std::runtime_error).
  void SetSpanningMode(TZASpanningMode mode);
  TZASpanningOptions SpanningOptions;
  std::string SFXStub;
  TZAOptions Options;
  std::vector<std::string>& FileMasks() { return fileMasks_; }
  void SetFileMasks(const std::vector<std::string>& masks) { fileMasks_ = masks; }
  std::vector<std::string>& ExclusionMasks() { return exclusionMasks_; }
  void SetExclusionMasks(const std::vector<std::string>& masks) { exclusionMasks_ = masks; }
  std::vector<std::string>& NoCompressionMasks() { return noCompressionMasks_; }
  void SetNoCompressionMasks(const std::vector<std::string>& masks) { noCompressionMasks_ = masks; }
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool value);
  TZip64Mode Zip64Mode = zmAuto;

  // ---- published events ----
  TZAFileProgressEvent OnFileProgress;
  TZAProgressEvent OnOverallProgress;
  TZACopyTempFileProgressEvent OnCopyTempFileProgress;
  TZAConfirmOverwriteEvent OnConfirmOverwrite;
  TZAConfirmProcessFileEvent OnConfirmProcessFile;
  TZANotifyEvent AfterOpen;
  TZAOnPasswordEvent OnPassword;
  TZAProcessFileFailureEvent OnProcessFileFailure;
  TZAOnRequestBlankVolumeEvent OnRequestBlankVolume;
  TZAOnRequestFirstVolumeEvent OnRequestFirstVolume;
  TZAOnRequestLastVolumeEvent OnRequestLastVolume;
  TZAOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
  TZAOnDiskFullEvent OnDiskFull;
  TZAOnStoreFileEvent OnStoreFile;
  TZAOnExtractFileEvent OnExtractFile;

  // The default dialogs ask through this; not owned. nullptr restores the headless one.
  void SetPrompter(Prompter* prompter);
  Prompter& GetPrompter() const { return *prompter_; }

  // ---- operations ----
  bool Active() const { return FActive; }
  void OpenArchive();
  void OpenArchiveMode(uint16_t mode);
  void CloseArchive();
  bool FindFirstItem(const std::string& fileMask, TZAArchiveItem& item, int32_t searchAttr,
                     const std::string& exclusionMask);
  bool FindNextItem(TZAArchiveItem& item);
  // Returns what became of the selected entries.
  TZABatchResult ExtractFiles(const std::string& fileMask, int32_t searchAttr, const std::string& exclusionMask);

  // ---- updates (zaupdate.cpp): changes gather in the directory until the outermost
  // EndUpdate (or the close) commits them ----
  // Codes 13 (closed) and 52 (an existing split or spanned archive).
  void BeginUpdate();
  void EndUpdate();
  // A disk file, or a folder with everything below it, named against BaseDir (the current
  // folder when empty). An entry of the same stored name is refreshed instead. move: the
  // source files are deleted once the archive holds them.
  void AddFiles(const std::string& path, bool move = false);
  // A new entry from a stream; owns: the entry frees the stream.
  void AddStream(TZAStream* stream, bool owns, const std::string& name);
  // Refreshes the matching entries from their disk files below BaseDir.
  TZABatchResult RefreshFiles(const std::string& fileMask);
  TZABatchResult DeleteFiles(const std::string& fileMask);
  // Exact entry names ("/" or "\"); code 11 when oldName is not there.
  void RenameFile(const std::string& oldName, const std::string& newName);
  void SetFileAttributes(const std::string& name, uint32_t attributes);
  void SetFileComment(const std::string& name, const std::string& comment);
  // Index of the entry called name in the current directory, or -1.
  int FindEntry(const std::string& name);

  // ---- the commit (zacommit.cpp) ----
  void FillDiskFileInfo(int index, const std::string& fileName, bool takeDiskFacts);
  // Creates a new, empty temporary file and returns its full name.
  std::string TempFileName();
  // A new temporary file, open for reading and writing; its name goes to fileName.
  virtual TZAStream* NewTempStream(std::string& fileName);
  // A stream over the tail copy of the commit's journal (owned by the caller).
  virtual TZAStream* NewJournalTail(TZACommitJournal& journal) { return journal.NewTailStream(); }

  bool InUpdate() const { return FUpdateCount > 0; }
  // Ends a pending update without writing it: the directory is the archive's again.
  void ResetUpdateCount();
  void CheckActive() const;       // code 13
  void CheckNotInUpdate() const;  // code 26
  static void LockArchiver();
  static void UnlockArchiver();

  // ---- event dispatchers (defaults without a handler: zaevents.cpp) ----
  virtual void SetCompressionMethod();
  virtual void DoOverallProgress(double Progress, TZAProcessOperation Operation, TZAProgressPhase ProgressPhase,
                                 bool& Cancel);
  virtual void DoFileProgress(const std::string& FileName, double Progress, TZAProcessOperation Operation,
                              TZAProgressPhase ProgressPhase, bool& Cancel);
  virtual void DoCopyTempFileProgress(double Progress, TZAProgressPhase ProgressPhase, bool& Cancel);
  virtual void DoConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName, bool& Confirm);
  virtual void DoConfirmProcessFile(const std::string& FileName, TZAProcessOperation Operation, bool& Confirm);
  virtual void DoPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile);
  virtual void DoProcessFileFailure(const std::string& FileName, TZAProcessOperation Operation, int32_t NativeError,
                                    int32_t ErrorCode, const std::string& ErrorMessage, TZAAction& Action);
  virtual void DoRequestBlankVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel);
  virtual void DoRequestFirstVolume(std::string& VolumeFileName, bool& Cancel);
  virtual void DoRequestLastVolume(std::string& VolumeFileName, bool& Cancel);
  virtual void DoRequestMiddleVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel);
  virtual void DoDiskFull(int32_t VolumeNumber, const std::string& VolumeFileName, bool& Cancel);
  virtual void DoProcessVolumeFailure(const std::string& VolumeFileName, TZAAction& Action);
  virtual void DoStoreFile(std::string& FileName, uint32_t& FileAttr, std::string& Comment,
                           const std::string& OriginalFileName);
  virtual void DoExtractFile(std::string& FileName, uint32_t& FileAttr, const std::string& Comment);
  void DoAfterOpen();

  // ---- steps of the engine in other files ----
  void InternalOpen();                              // the open dispatch
  bool ItemMatches(TZAArchiveItem& item);           // the search step
  void CollectItems(const std::string& fileMask, int32_t searchAttr, const std::string& exclusionMask);
  // The batch loop (zabatch.cpp) and its per-entry steps; names in "\\" form.
  TZABatchResult ProcessFiles(TZAProcessOperation operation);
  TZAItemOutcome ExtractItemToFile(int index, const std::string& name, const std::string& baseDir);
  void ExtractItemToStream(int index, TZAStream& stream);  // code 16, code 8
  TZAItemOutcome ProcessTestItem(int index, const std::string& name);
  TZAItemOutcome ProcessUpdateItem(int index, const std::string& name, const std::string& baseDir);
  void ProcessDeleteItem(int index);
  TDirItem& PrepareItemUpdate(int index, const std::string& diskFile);  // codes 24, 25
  void DeleteDirEntry(int index);                                      // codes 21, 22
  // Removes the entries of the given indexes in one pass (each checked as DeleteDirEntry).
  void DeleteDirEntries(std::vector<int> indexes);
  void GetVolumeFileName(std::string& Name, int32_t N, bool CheckExists);
  int64_t FreeSpaceOfDrive(const std::string& path);
  // Volumes (zavolumes.cpp).
  void OpenVolumeFile(const std::string& name);
  void OpenVolume(const TZAVolumeNumberInfo& info);  // code 45 when a request is cancelled
  int64_t WriteAcrossVolumes(const void* buffer, int64_t count, TZAStream*& target, TZAVolumeNumberInfo& info,
                             int64_t reserve, TZAStream* cache);
  void WriteAcrossVolumesChecked(const void* buffer, int64_t count, TZAStream*& target, TZAVolumeNumberInfo& info,
                                 int64_t reserve, TZAStream* cache);  // code 46 on a shortfall
  int64_t CopyStreamAcrossVolumes(TZAStream& source, TZAStream*& target, TZAVolumeNumberInfo& info, bool& cancel,
                                  int64_t count, int64_t reserve, TZAStream* cache, bool showProgress);
  void FinishLastVolume();
  // Spanned archives on removable media (zamedia.cpp). FollowMedium: false when no medium is
  // in the drive for the volume name (the request is then made again); when the archive's
  // medium is mounted elsewhere now, name and FileName move there.
  bool FollowMedium(std::string& name);
  int64_t FreeSpaceOfMedium(const std::string& path);
  void LabelMedium(const std::string& name, int32_t volumeNumber);
  std::optional<platform::MountInfo> FMedium;  // the removable medium of a spanned archive
  void CreateNewArchive();
  void OpenArchiveFile();
  void OpenSplitArchive();
  void ProbeLastVolume(bool missingMeansSpanned);
  void DetectSpanningMode(bool found);
  void CommitUpdate();
  int FirstChangedIndex();
  // Codes 35 and 8 when an old entry that the commit keeps is cut, shares bytes or fails its
  // data check (zacommitcheck.cpp).
  void CheckKeptEntries();
  void CopyTailToTempFile(int start);
  void DeleteTempFile();
  void RestoreFromTempFile();
  void CopyItemFromTemp(int index);
  bool WriteChangedItem(int index);
  void ReleaseItemSource(int index);
  void RollbackUpdate();

  // ---- entry data (zaentrydata.cpp) ----
  // Writes the entry's data at dest's position and fills its CRC, sizes, method and Zip64
  // values. False when cancelled; raises on failure.
  bool CompressItem(TZAStream& source, TZAStream& dest, TDirItem& item);
  // The archive stands at the entry's local header. True only when the content written to
  // dest matches the entry's size and CRC-32; FLastDataStatus tells why not.
  bool DecompressItem(TZAStream& archive, TZAStream& dest, const TDirItem& item);
  // Local header at out's position, then the data of source (none: a header alone).
  bool WriteItemHeaderAndData(TZAStream& out, TDirItem& item, TZAStream* source);
  TZADataStatus FLastDataStatus = TZADataStatus::Ok;

  // ---- engine state shared by the engine's steps ----
  bool FActive = false;
  TZAStream* FArchiveStream = nullptr;
  bool FStreamHandedIn = false;  // a stream given by a caller is never freed here
  std::shared_ptr<TZADirManager> FDirManager;
  uint16_t FFileOpenMode = 0;
  TZAVolumeNumberInfo FVolumeInfo;
  std::string FCurrentVolumeFileName;
  int32_t FUpdateCount = 0;
  uint16_t FCompressionMethod = 0;
  bool FZipFormat = false;
  bool FOpenDamaged = true;
  bool FSuppressPasswordEvent = false;
  bool FCancel = false;
  bool FSkip = false;
  bool FProgressEnabled = false;
  int32_t FSelectedCount = 0;
  int32_t FItemsDone = 0;
  double FCurrentItemSize = 0;
  double FCurrentItemDone = 0;
  unsigned FUmask = 022;     // read at the start of each batch
  // Folders made for the entries of the batch, each with its device; Fresh: created by the
  // batch, so a name in it is taken to be free until a no-replace rename says otherwise.
  struct TZAMadeDir {
    dev_t Device;
    bool Fresh;
  };
  std::unordered_map<std::string, TZAMadeDir> FMadeDirs;
  // Folders held open for the files extracted in them, a few at a time, for the batch only.
  TZAFolderRef OpenFolderOf(const std::string& folder);
  std::unordered_map<std::string, TZAFolderRef> FOpenFolders;
  // Extracted files are flushed only on a removable drive, asked once per device a batch.
  bool FlushesFilesIn(const std::string& folder);
  std::vector<std::pair<dev_t, bool>> FFlushDevices;
  TZAProcessVolumeFailureEvent FOnProcessVolumeFailure;
  std::vector<TZAFileIdentity> FWrittenVolumes;  // volumes created in this run
  std::vector<std::string> FWrittenVolumeNames;  // and their names
  bool FVolumesCommitted = false;                // a commit wrote this new multi-volume archive
  int32_t FModifiedCount = 0;
  std::unique_ptr<TZACommitState> FCommit;       // state of the running commit
  TZAArchiveSnapshot FOpenedAs;  // the archive file as its directory was read (or last written)
  TZANameIndex FNameIndex;  // entry names of the update; rebuilt when stale
  bool FNameIndexValid = false;

  // Frees the archive stream unless handed in, and the directory manager.
  void ReleaseArchive();

 protected:
  TZACompressionLevel compressionLevel_ = clFastest;
  uint8_t compressionMode_ = 1;
  TZASpanningMode spanningMode_ = smNone;
  bool inMemory_ = false;
  std::vector<std::string> fileMasks_;
  std::vector<std::string> exclusionMasks_;
  std::vector<std::string> noCompressionMasks_;
  Prompter* prompter_;
};

class TZipArchiver : public TZABaseArchiver {
 public:
  TZipArchiver();
  ~TZipArchiver() override = default;
  // Deflate (8) for a mode above 0, else stored (0).
  void SetCompressionMethod() override;
};

// Compression mode of a level and level of a mode.
uint8_t ModeForLevel(TZACompressionLevel level);
TZACompressionLevel LevelForMode(uint8_t mode);

// Fills the facts of a new or refreshed entry: name, time, attributes, the component's
// password, compression mode and method; the old extra fields go.
void FillEntryFacts(TDirItem& item, const std::string& stored, uint32_t dosTime, uint32_t attributes, bool isFolder,
                    const TZABaseArchiver& archiver, uint16_t method);

// True when path names an existing entry of the file system that is not a folder.
bool FileExists(const std::string& path);

}  // namespace ziparchive
