#include "updater/ziparchive/zaarchiver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <stdexcept>

#include "platform/atomicfile.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zalock.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

HeadlessPrompter headlessPrompter;

std::string fileNamePart(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Whether the file can be opened for reading and writing with no other writer on it. Linux
// has no share modes: a read lease is refused while anybody holds the file open for writing.
bool openableDenyingWrite(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  int probe = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (probe < 0) return false;
  bool otherWriter = false;
  if (::fcntl(probe, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(probe, F_SETLEASE, F_UNLCK);
  } else {
    otherWriter = errno == EAGAIN;
  }
  ::close(probe);
  return !otherWriter;
}

// The directory of an archive that holds nothing yet: through the directory manager when
// there is one (volumes, comment), else a bare end record.
void writeEmptyDirectory(TZABaseArchiver& archiver) {
  if (archiver.FDirManager) {
    archiver.FDirManager->WriteCentralDir();
    return;
  }
  uint8_t record[kEndRecordSize];
  EncodeEndRecord(TZAEndRecord{}, record);
  archiver.FArchiveStream->WriteBuffer(record, sizeof record);
}

}  // namespace

void TZAOptions::Assign(const TZAOptions& source) {
  StorePath = source.StorePath;
  Recurse = source.Recurse;
  OverwriteMode = source.OverwriteMode;
  CreateDirs = source.CreateDirs;
  ReplaceReadOnly = source.ReplaceReadOnly;
  SetAttributes = source.SetAttributes;
  SearchAttr = source.SearchAttr;
  FlushBuffers = source.FlushBuffers;
  OEMFileNames = source.OEMFileNames;
}

uint8_t ModeForLevel(TZACompressionLevel level) {
  switch (level) {
    case clNone: return 0;
    case clFastest: return 1;
    case clNormal: return 6;
    case clMax: return 9;
  }
  return 1;
}

TZACompressionLevel LevelForMode(uint8_t mode) {
  if (mode == 0) return clNone;
  if (mode <= 3) return clFastest;
  if (mode <= 6) return clNormal;
  return clMax;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(ToSlashes(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

TZABaseArchiver::TZABaseArchiver() : prompter_(&headlessPrompter) {
  SetCompressionLevel(clFastest);
  FOpenDamaged = true;
  Zip64Mode = zmAuto;
  FVolumeInfo.ResetVolumeInfo();
}

TZABaseArchiver::~TZABaseArchiver() {
  try {
    CloseArchive();
  } catch (...) {
  }
}

void TZABaseArchiver::SetPrompter(Prompter* prompter) {
  prompter_ = prompter != nullptr ? prompter : &headlessPrompter;
}

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel level) {
  compressionLevel_ = level;
  compressionMode_ = ModeForLevel(level);
  SetCompressionMethod();
}

void TZABaseArchiver::SetCompressionMode(int mode) {
  if (mode < 0 || mode > 9) throw EZAException::CreateForCode(5, this);
  compressionMode_ = static_cast<uint8_t>(mode);
  compressionLevel_ = LevelForMode(compressionMode_);
  SetCompressionMethod();
}

void TZABaseArchiver::SetCompressionMethod() { FCompressionMethod = 0xFFFF; }

std::string TZABaseArchiver::CurrentVersion() const { return "2.65 "; }

void TZABaseArchiver::SetSpanningMode(TZASpanningMode mode) {
  if (FActive) throw std::runtime_error("Cannot set spanning mode on open archive");
  spanningMode_ = mode;
}

void TZABaseArchiver::SetInMemory(bool value) {
  if (value == inMemory_) return;
  if (!FActive) {
    inMemory_ = value;
    return;
  }
  if (inMemory_) {
    if (fileNamePart(FileName).empty()) throw EZAException::CreateForCode(29, this);
    auto* memory = dynamic_cast<TZAMemoryStream*>(FArchiveStream);
    // An archive without entries still gets its end record, so that the file opens again.
    if (memory != nullptr && memory->Size() == 0) writeEmptyDirectory(*this);
    std::string bytes;
    if (memory != nullptr) {
      bytes.assign(reinterpret_cast<const char*>(memory->Memory()), static_cast<size_t>(memory->Size()));
    } else if (FArchiveStream != nullptr) {
      TZAMemoryStream copy;
      copy.CopyFrom(*FArchiveStream, 0);
      bytes.assign(reinterpret_cast<const char*>(copy.Memory()), static_cast<size_t>(copy.Size()));
    }
    // The old file stays whole until the new one is complete.
    if (!platform::WriteFileAtomic(ToSlashes(FileName), bytes, 0644)) {
      throw EZAException::CreateForCodeFmt(19, this, {FileName});
    }
  }
  CloseArchive();
  inMemory_ = value;
  OpenArchive();
}

void TZABaseArchiver::CheckActive() const {
  if (!FActive) throw EZAException::CreateForCode(13, this);
}

void TZABaseArchiver::CheckNotInUpdate() const {
  if (InUpdate()) throw EZAException::CreateForCode(26, this);
}

void TZABaseArchiver::LockArchiver() { ZALockEnter(); }
void TZABaseArchiver::UnlockArchiver() { ZALockLeave(); }

void TZABaseArchiver::OpenArchive() {
  if (!inMemory_ && fileNamePart(FileName).empty()) throw EZAException::CreateForCode(9, this);
  uint16_t mode = kCreateArchiveMode;
  if (!inMemory_ && FileExists(FileName)) {
    mode = openableDenyingWrite(ToSlashes(FileName)) ? kOpenReadWriteDenyWrite : kOpenReadDenyNone;
    TZACommitJournal::Step("probed");
  }
  OpenArchiveMode(mode);
}

void TZABaseArchiver::OpenArchiveMode(uint16_t mode) {
  if (!inMemory_ && fileNamePart(FileName).empty()) throw EZAException::CreateForCode(10, this);
  if (mode != kCreateArchiveMode && !FileExists(FileName) && spanningMode_ != smSpanning &&
      !IsRemovableDrive(FileName)) {
    throw EZAException::CreateForCodeFmt(12, this, {FileName});
  }
  if (mode != kCreateArchiveMode && inMemory_) throw EZAException::CreateForCodeFmt(28, this, {FileName});
  CloseArchive();
  FStreamHandedIn = false;
  FFileOpenMode = mode;
  try {
    InternalOpen();
  } catch (...) {
    FActive = false;
    ReleaseArchive();
    throw;
  }
}

void TZABaseArchiver::ReleaseArchive() {
  if (!FStreamHandedIn) delete FArchiveStream;
  FArchiveStream = nullptr;
  FStreamHandedIn = false;
  FDirManager.reset();
}

void TZABaseArchiver::CloseArchive() {
  // A failed commit reaches the caller, after the archive is closed.
  std::exception_ptr failure;
  if (FActive) {
    try {
      CommitUpdate();
    } catch (...) {
      failure = std::current_exception();
    }
    try {
      if (!failure && FArchiveStream != nullptr && FArchiveStream->Size() == 0) writeEmptyDirectory(*this);
    } catch (const EZAStreamError& e) {
      failure = std::make_exception_ptr(EZAException::CreateForCode(46, this).AppendDetail(e.what()));
    } catch (...) {
      failure = std::current_exception();
    }
    FActive = false;
  }
  ReleaseArchive();
  if (failure) std::rethrow_exception(failure);
}

bool TZABaseArchiver::FindFirstItem(const std::string& fileMask, TZAArchiveItem& item, int32_t searchAttr,
                                    const std::string& exclusionMask) {
  std::string mask = fileMask;
  std::string drive = DrivePart(mask);
  if (!drive.empty() && Options.StorePath != spFullPathWithDrive) mask.erase(0, drive.size());
  std::replace(mask.begin(), mask.end(), '\\', '/');
  TInternalSearchRec& rec = item.InternalSearchRec;
  rec.FileMask = mask;
  rec.ExclusionMask = exclusionMask;
  rec.UseMaskProperties = false;
  rec.HasWildcards = mask.find_first_of("*?") != std::string::npos;
  rec.Attributes = static_cast<uint32_t>(searchAttr);
  rec.ItemIndex = 0;
  return ItemMatches(item);
}

bool TZABaseArchiver::FindNextItem(TZAArchiveItem& item) {
  item.InternalSearchRec.ItemIndex += 1;
  return ItemMatches(item);
}

TZABatchResult TZABaseArchiver::ExtractFiles(const std::string& fileMask, int32_t searchAttr,
                                             const std::string& exclusionMask) {
  CheckActive();
  CheckNotInUpdate();
  CollectItems(fileMask, searchAttr, exclusionMask);
  return ProcessFiles(poExtract);
}

TZipArchiver::TZipArchiver() {
  FZipFormat = true;
  Zip64Mode = zmDisabled;
  // The base constructor ran before this class existed; choose the ZIP method now.
  SetCompressionMethod();
}

void TZipArchiver::SetCompressionMethod() { FCompressionMethod = compressionMode_ > 0 ? 8 : 0; }

}  // namespace ziparchive
