// The write side of the engine: entries described from disk files, temporary files, and the
// commit that turns the pending changes of an update into the archive, with its rollback.
//
// The commit keeps the unchanged head of the archive in place, saves the old tail (in the
// journal beside an archive file, else in memory or a temporary file), cuts the archive,
// writes every entry from the first changed one on, and writes the directory. Until the new
// directory is on the disk any failure puts the old bytes back, and a commit cut short by a
// kill is undone from the journal at the next open (zajournal.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zaextract.h"
#include "updater/ziparchive/zanames.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

constexpr int64_t kCopyBlock = 1 << 20;

std::string tempFolder(const std::string& tempDir) {
  if (!tempDir.empty()) return RemoveSlash(ToSlashes(tempDir));
  const char* env = std::getenv("TMPDIR");
  return env != nullptr && *env != '\0' ? RemoveSlash(env) : std::string("/tmp");
}

EZAException streamFailure(const TZABaseArchiver* a, const EZAStreamError& e) {
  return EZAException::CreateForCode(46, a).AppendDetail(e.what());
}

// fsync of a file stream; other streams have nothing to flush.
void flushStream(const TZABaseArchiver* a, TZAStream& s) {
  auto* file = dynamic_cast<TZAFileStream*>(&s);
  if (file != nullptr && !file->Flush()) {
    throw EZAException::CreateForCode(46, a).AppendDetail(std::strerror(file->LastError()));
  }
}

// Copies count bytes from source's position to dest's position through buffer.
void copyBytes(TZAStream& source, TZAStream& dest, int64_t count, std::vector<uint8_t>& buffer) {
  if (buffer.size() < static_cast<size_t>(kCopyBlock)) buffer.resize(static_cast<size_t>(kCopyBlock));
  while (count > 0) {
    const int64_t n = std::min(count, kCopyBlock);
    source.ReadBuffer(buffer.data(), n);
    dest.WriteBuffer(buffer.data(), n);
    count -= n;
    TZACommitJournal::Step("copy-block");
  }
}

bool writesData(TZAProcessOperation op) { return op != poRename && op != poChangeComment && op != poChangeAttr; }

}  // namespace

void TZATempFile::Delete() {
  Stream.reset();
  if (!Keep && !Name.empty()) ::unlink(Name.c_str());
  Name.clear();
  Keep = false;
}

// ---- temporary files and disk facts ------------------------------------------------------

TZAStream* TZABaseArchiver::NewTempStream(std::string& fileName) {
  std::string pattern = tempFolder(TempDir) + "/FCXXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    throw EZAException::CreateForCodeFmt(19, this, {pattern}).AppendDetail(std::strerror(err));
  }
  fileName = buf.data();
  return new TZAFileStream(fd, true, fileName);
}

std::string TZABaseArchiver::TempFileName() {
  std::string name;
  delete NewTempStream(name);
  return name;
}

void FillEntryFacts(TDirItem& item, const std::string& stored, uint32_t dosTime, uint32_t attributes, bool isFolder,
                    const TZABaseArchiver& a, uint16_t method) {
  item.SetName(stored);
  item.Modified = true;
  TDirItemPending& pending = item.EditPending();
  pending.EntryPassword = a.Password;
  item.EntryCompressionMode = isFolder ? 0 : a.CompressionMode();
  pending.OldName.clear();
  item.SetExtraArea({});  // facts of the old entry (times, owners) no longer hold
  item.HasZip64 = false;
  item.Zip64UncompressedSize = item.Zip64CompressedSize = item.Zip64LocalHeaderOffset = 0;
  item.Zip64DiskNumberStart = 0;
  item.Signature = kCentralHeaderSignature;
  item.VersionMadeBy = item.VersionNeeded = a.Options.OEMFileNames ? 20 : 0x0B14;
  item.Flags = a.Password.empty() ? 0 : 1;
  item.CompressionMethod = method;
  item.LastModTime = static_cast<uint16_t>(dosTime & 0xFFFF);
  item.LastModDate = static_cast<uint16_t>(dosTime >> 16);
  item.Crc32 = 0xFFFFFFFFu;
  item.CompressedSize = item.UncompressedSize = 0;
  item.ExtraLength = 0;
  item.CommentLength = static_cast<uint16_t>(std::min<size_t>(item.Comment().size(), kSaturated16));
  item.DiskNumberStart = 0;
  item.InternalAttributes = 0;
  item.ExternalAttributes = attributes;
  item.LocalHeaderOffset = 0;
  if (isFolder) {
    item.CompressionMethod = 0;
    item.Crc32 = 0;
    item.Flags = 2;
  }
}

void TZABaseArchiver::FillDiskFileInfo(int index, const std::string& fileName, bool takeDiskFacts) {
  std::string stored = StoredPathFor(fileName, BaseDir, Options.StorePath);
  if (stored.empty()) return;
  // Without a change of the current folder: the name is resolved against BaseDir directly.
  const std::string full = ToSlashes(ExpandWithBaseDir(BaseDir, fileName));
  const bool isFolder = DirExists(full);
  uint32_t dosTime = UnixToDosDateTime(std::time(nullptr));
  uint32_t attributes = kArchiveAttribute;
  if (takeDiskFacts) {
    struct stat st {};
    if (::stat(full.c_str(), &st) == 0) {
      dosTime = UnixToDosDateTime(st.st_mtime);
      attributes = S_ISDIR(st.st_mode) ? kFolderAttribute : kArchiveAttribute;
      if (!(st.st_mode & S_IWUSR)) attributes |= kReadOnlyAttribute;
    }
    if (isFolder && stored.back() != '/') stored += '/';
  }
  TDirItem& item = FDirManager->CurrentDir.EditDirItem(index);
  FillEntryFacts(item, stored, dosTime, attributes, isFolder, *this, FCompressionMethod);
  item.SetSourceStream(nullptr, false);
  item.EditPending().SourceFileName = full;
  item.EditPending().SourcePosition = 0;
}

// ---- the commit ----------------------------------------------------------------------------

int TZABaseArchiver::FirstChangedIndex() {
  const TZADirArray& backup = FDirManager->BackupDir;
  const TZADirArray& current = FDirManager->CurrentDir;
  const int n = std::min(backup.DirItemCount(), current.DirItemCount());
  for (int i = 0; i < n; ++i) {
    const TDirItem& item = current.DirItemAt(i);
    // The same place: the same name and the same data (entries may share a name).
    const TDirItem& old = backup.DirItemAt(i);
    if (item.Modified || item.Name() != old.Name() || EffectiveLocalHeaderOffset(item) != EffectiveLocalHeaderOffset(old))
      return i;
  }
  return n;
}

void TZABaseArchiver::CopyTailToTempFile(int) {
  TZACommitState& st = *FCommit;
  TZAStream& archive = *FArchiveStream;
  const int64_t end = archive.Size();
  const int64_t count = end - st.CutPosition;
  // An existing archive file keeps its tail in its journal; an archive in memory keeps it in
  // memory; a new multi-volume archive, whose volumes a failure deletes, in memory when it is
  // only a small directory (a large one would cost as much memory as the directory itself),
  // else in a temporary file.
  constexpr int64_t kDirectoryTailInMemory = 4 << 20;
  const bool inMemory = inMemory_ || dynamic_cast<TZAMemoryStream*>(FArchiveStream) != nullptr;
  const bool appendOnly = st.Start >= FDirManager->BackupDir.DirItemCount();
  // An archive file is first locked and found unchanged since it was read; where no journal
  // can be kept beside it, its tail goes where the others go (not kill-safe).
  if (!inMemory && spanningMode_ == smNone && FFileOpenMode != kCreateArchiveMode && !FStreamHandedIn) {
    st.Lock = std::make_unique<TZAArchiveLock>(ToSlashes(FileName), FOpenedAs, this);
    TZACommitJournal::Step("locked");
    st.Journal = TZACommitJournal::Begin(*st.Lock, st.CutPosition, this);
  }
  if (st.Journal) {
    st.Temp.Stream.reset(NewJournalTail(*st.Journal));
  } else if (inMemory || (appendOnly && count <= kDirectoryTailInMemory)) {
    st.Temp.Stream = std::make_unique<TZAMemoryStream>();
  } else {
    st.Temp.Stream.reset(NewTempStream(st.Temp.Name));
  }
  TZAStream& temp = *st.Temp.Stream;
  archive.SetPosition(st.CutPosition);
  temp.SetPosition(0);
  if (st.Buffer.size() < static_cast<size_t>(kCopyBlock)) st.Buffer.resize(static_cast<size_t>(kCopyBlock));
  bool cancel = false;
  const bool progress = !inMemory && !appendOnly;
  if (progress) DoCopyTempFileProgress(0, ppStart, cancel);
  for (int64_t done = 0; done < count && !cancel;) {
    const int64_t n = std::min(count - done, kCopyBlock);
    archive.ReadBuffer(st.Buffer.data(), n);
    temp.WriteBuffer(st.Buffer.data(), n);
    done += n;
    TZACommitJournal::Step("tail-block");
    if (progress) DoCopyTempFileProgress(double(done) / double(count) * 100.0, ppProcess, cancel);
  }
  if (progress && !cancel) DoCopyTempFileProgress(100, ppEnd, cancel);
  if (cancel) {
    FCancel = true;
    return;
  }
  // The copy is the only one once the archive is cut: every byte must be on the disk.
  if (temp.Size() != count) throw EZAException::CreateForCode(46, this).AppendDetail("short copy of the archive tail");
  st.TailSize = count;
  if (st.Journal) {
    st.Journal->Seal(count);
  } else {
    flushStream(this, temp);
  }
}

void TZABaseArchiver::DeleteTempFile() {
  if (!FCommit) return;
  FCommit->Temp.Delete();
  if (FCommit->Journal) {
    FCommit->Journal->Remove();
    FCommit->Journal.reset();
  }
}

void TZABaseArchiver::RestoreFromTempFile() {
  TZACommitState& st = *FCommit;
  TZAStream& archive = *FArchiveStream;
  TZAStream& temp = *st.Temp.Stream;
  try {
    archive.SetSize(st.CutPosition);
    archive.SetPosition(st.CutPosition);
    temp.SetPosition(0);
    const int64_t count = temp.Size();
    copyBytes(temp, archive, count, st.Buffer);
    if (archive.Size() != st.CutPosition + count) throw EZAStreamError("short restore");
    flushStream(this, archive);
  } catch (const std::exception& e) {
    // The old tail stays where it is, on the disk, and the caller learns where. A journal
    // stays sealed: the next open puts the old archive back from it.
    const std::string journal = st.Journal ? st.Journal->Name() : std::string();
    std::string kept = journal.empty() ? st.Temp.Name : journal;
    if (kept.empty()) {
      try {
        TZATempFile copy;
        copy.Stream.reset(NewTempStream(copy.Name));
        temp.SetPosition(0);
        copyBytes(temp, *copy.Stream, temp.Size(), st.Buffer);
        flushStream(this, *copy.Stream);
        copy.Keep = true;
        kept = copy.Name;
      } catch (...) {
      }
    }
    st.Temp.Keep = !st.Temp.Name.empty();
    st.Temp.Delete();
    // The head of the archive is whole: it gets a directory of its own entries, once the
    // journal knows that this archive is still to be undone.
    try {
      TZADirArray& current = FDirManager->CurrentDir;
      current.SetDirItemCount(std::min(st.Start, current.DirItemCount()));
      archive.SetSize(st.CutPosition);
      if (!st.Journal || st.Journal->MarkHeadOnly()) FDirManager->WriteCentralDir();
    } catch (...) {
    }
    st.Journal.reset();
    const auto* engine = dynamic_cast<const EZAException*>(&e);
    EZAException failure = engine != nullptr ? *engine : EZAException::CreateForCode(46, this).AppendDetail(e.what());
    if (kept.empty()) {
      failure.AppendDetail("the entries from the cut on are lost");
    } else if (!journal.empty()) {
      failure.AppendDetail("archive tail kept in \"" + kept + "\": the old archive is put back at its next open");
    } else {
      failure.AppendDetail("archive tail kept in \"" + kept + "\": the old archive is the first " +
                           std::to_string(st.CutPosition) + " bytes of the archive followed by that file");
    }
    throw failure;
  }
  DeleteTempFile();
}

void TZABaseArchiver::RollbackUpdate() {
  FDirManager->CurrentDir.AssignDirItems(FDirManager->BackupDir);
  FNameIndexValid = false;
  if (!FCommit) return;
  TZACommitState& st = *FCommit;
  if (spanningMode_ != smNone) {
    // A new multi-volume archive that failed leaves no volume behind.
    if (!FStreamHandedIn) delete FArchiveStream;
    FArchiveStream = nullptr;
    FDirManager->ArchiveStream = nullptr;
    for (const std::string& name : FWrittenVolumeNames) ::unlink(ToSlashes(name).c_str());
    FWrittenVolumeNames.clear();
    FWrittenVolumes.clear();
    return;
  }
  if (FArchiveStream == nullptr) return;
  if (!st.Cut) {
    DeleteTempFile();  // the archive was not touched yet
    return;
  }
  if (st.Temp.Stream) {
    RestoreFromTempFile();
  } else if (st.Cut) {
    FArchiveStream->SetSize(st.CutPosition);
    FDirManager->WriteCentralDir();
  }
}

void TZABaseArchiver::ReleaseItemSource(int index) {
  const TDirItemPending& pending = FDirManager->CurrentDir.DirItemAt(index).Pending();
  if (pending.SourceStream) {
    if (pending.OwnsSourceStream) {
      FDirManager->CurrentDir.EditDirItem(index).SetSourceStream(nullptr, false);
    } else {
      pending.SourceStream->SetPosition(FCommit->SourceSavedPosition);
    }
  } else {
    FCommit->ItemSource.reset();
  }
}

namespace {

// Length of the data descriptor after an entry's data, bounded by room: 12 or 20 bytes, 4
// more with its signature; 0 when the entry has none.
int64_t descriptorLength(bool signature, int64_t room, bool flagged, bool zip64) {
  if (!flagged || room <= 0) return 0;
  const int64_t small = signature ? 16 : 12, large = signature ? 24 : 20;
  // The space up to the next entry tells the size when it is one of the two.
  if (room == small || room == large) return room;
  return std::min(room, zip64 ? large : small);
}

}  // namespace

void TZABaseArchiver::CopyItemFromTemp(int index) {
  TZACommitState& st = *FCommit;
  TZADirArray& current = FDirManager->CurrentDir;
  const TZADirArray& backup = FDirManager->BackupDir;
  // An entry that only moves is not copied out of a segment that the backup shares: its new
  // offset is kept apart (Moved) until the commit ends.
  const TDirItem& wanted = current.DirItemAt(index);
  const bool renamed = wanted.Operation == poRename && !wanted.Pending().OldName.empty();
  const std::string key(renamed ? std::string_view(wanted.Pending().OldName) : wanted.Name());
  const int j = st.BackupByName.OldEntryOf(backup, key, EffectiveLocalHeaderOffset(wanted));
  if (j < 0) throw EZAException::CreateForCode(7, this);
  st.BackupByName.Take(j);
  const TDirItem& old = backup.DirItemAt(j);
  // A change whose data was not written keeps the old entry's facts.
  if (wanted.Operation == poUpdate || (wanted.Modified && writesData(wanted.Operation))) current.PutDirItem(index, old);
  const TDirItem& item = current.DirItemAt(index);
  const int64_t oldOffset = EffectiveLocalHeaderOffset(old);
  const int64_t place = oldOffset - st.CutPosition;
  TZAStream& temp = *st.Temp.Stream;
  TZAStream& archive = *FArchiveStream;
  const int64_t tailSize = st.TailSize;
  if (place < 0 || tailSize - place < static_cast<int64_t>(kLocalHeaderSize)) {
    throw EZAException::CreateForCode(35, this);
  }
  st.Moved.Record(index, archive.Position());

  // The entry runs to the next old entry or to the old directory at most; one that fits the
  // buffer is read in one go, header, data and descriptor.
  const int64_t next = st.BackupByName.NextOffset(backup, oldOffset);
  const int64_t bound = std::min(next < 0 ? st.OldTailEnd : next, st.CutPosition + tailSize) - st.CutPosition;
  const int64_t span = bound - place;
  const bool inBuffer = span >= static_cast<int64_t>(kLocalHeaderSize) && span <= kCopyBlock;
  uint8_t header[kLocalHeaderSize];
  temp.SetPosition(place);
  if (inBuffer) {
    if (st.Buffer.size() < static_cast<size_t>(kCopyBlock)) st.Buffer.resize(static_cast<size_t>(kCopyBlock));
    temp.ReadBuffer(st.Buffer.data(), span);
    std::memcpy(header, st.Buffer.data(), kLocalHeaderSize);
  } else {
    temp.ReadBuffer(header, kLocalHeaderSize);
  }
  if (GetU32(header) != kLocalHeaderSignature) throw EZAException::CreateForCode(35, this);
  const int64_t nameLength = GetU16(header + 26);
  const int64_t extraLength = GetU16(header + 28);
  const uint16_t localFlags = GetU16(header + 6);
  const int64_t dataEnd = place + static_cast<int64_t>(kLocalHeaderSize) + nameLength + extraLength +
                          std::max<int64_t>(EffectiveCompressedSize(old), 0);
  if (dataEnd > tailSize) throw EZAException::CreateForCode(35, this);
  const bool zip64 = old.CompressedSize == kSaturated32 || old.UncompressedSize == kSaturated32;
  const bool flagged = ((localFlags | old.Flags) & kDescriptorFlag) != 0;
  const int64_t room = bound - dataEnd;
  const bool whole = inBuffer && dataEnd <= bound;  // every byte of the entry is in the buffer
  bool signature = false;
  if (flagged && room > 0) {
    if (whole) {
      signature = room >= 4 && GetU32(st.Buffer.data() + (dataEnd - place)) == kDataDescriptorSignature;
    } else if (tailSize - dataEnd >= 4) {
      uint8_t b[4];
      temp.SetPosition(dataEnd);
      temp.ReadBuffer(b, 4);
      signature = GetU32(b) == kDataDescriptorSignature;
    }
  }
  const int64_t length = dataEnd - place + descriptorLength(signature, room, flagged, zip64);
  const int64_t kept = static_cast<int64_t>(kLocalHeaderSize) + nameLength;  // what a rename replaces
  if (renamed) {
    const std::string_view name = item.Name();
    PutU16(header + 6, FlagsForStoredName(localFlags, item.VersionMadeBy, name));
    PutU16(header + 26, static_cast<uint16_t>(name.size()));
    archive.WriteBuffer(header, kLocalHeaderSize);
    archive.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
    if (whole) {
      archive.WriteBuffer(st.Buffer.data() + kept, length - kept);
    } else {
      temp.SetPosition(place + kept);
      copyBytes(temp, archive, length - kept, st.Buffer);
    }
  } else if (whole) {
    archive.WriteBuffer(st.Buffer.data(), length);
  } else {
    temp.SetPosition(place);
    copyBytes(temp, archive, length, st.Buffer);
  }
}

namespace {

TZAStream* OpenItemSource(TZABaseArchiver& a, TDirItem& item, TZACommitState& st) {
  const TDirItemPending& pending = item.Pending();
  if (pending.SourceStream) {
    st.SourceSavedPosition = pending.SourceStream->Position();
    pending.SourceStream->SetPosition(pending.SourcePosition);
    return pending.SourceStream.get();
  }
  if (item.ExternalAttributes & kFolderAttribute) return nullptr;
  const std::string path = ToSlashes(pending.SourceFileName);
  // Non-blocking open: a FIFO put in place of a file must not hang the commit.
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat sb {};
  if (fd < 0 || ::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
    const int err = fd < 0 ? errno : (S_ISDIR(sb.st_mode) ? EISDIR : EINVAL);
    if (fd >= 0) ::close(fd);
    throw EZAException::CreateForCodeFmt(33, &a, {pending.SourceFileName}).AppendDetail(std::strerror(err));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  st.ItemSource = std::make_unique<TZAFileStream>(fd, true, path);
  return st.ItemSource.get();
}

}  // namespace

bool TZABaseArchiver::WriteChangedItem(int index) {
  TZACommitState& st = *FCommit;
  TZADirArray& current = FDirManager->CurrentDir;
  SetCompressionMethod();
  const TZAProcessOperation op = current.DirItemAt(index).Operation;
  const TDirItem& entry = current.DirItemAt(index);
  const std::string progressName((op == poAdd || op == poMove) && !entry.Pending().SourceFileName.empty()
                                     ? std::string_view(entry.Pending().SourceFileName)
                                     : entry.Name());
  DoFileProgress(progressName, 0, op, ppStart, FCancel);
  if (FCancel) return false;
  const bool spanning = spanningMode_ != smNone;
  const int64_t start = FArchiveStream->Position();
  TZATempFile output;
  // A failed or cancelled entry leaves nothing of itself in a single-file archive.
  auto cutBack = [&] {
    if (!spanning && FArchiveStream != nullptr) {
      FArchiveStream->SetSize(start);
      FArchiveStream->SetPosition(start);
    }
  };
  try {
    try {
      TDirItem& item = current.EditDirItem(index);
      item.HasZip64 = false;
      TZAStream* source = OpenItemSource(*this, item, st);
      TZAStream* out = FArchiveStream;
      if (spanning) {
        output.Stream.reset(NewTempStream(output.Name));
        out = output.Stream.get();
      }
      if (!WriteItemHeaderAndData(*out, item, source) || FCancel) {
        ReleaseItemSource(index);
        output.Delete();
        cutBack();
        return false;
      }
      bool copyCancel = false;
      if (spanning) {
        TZAStream& temp = *output.Stream;
        uint8_t header[kLocalHeaderSize];
        temp.SetPosition(0);
        temp.ReadBuffer(header, kLocalHeaderSize);
        const int64_t headerLength = static_cast<int64_t>(kLocalHeaderSize) + GetU16(header + 26) + GetU16(header + 28);
        temp.SetPosition(0);
        TZAStream* cache = st.EntryCache.get();
        if (CopyStreamAcrossVolumes(temp, FArchiveStream, FVolumeInfo, copyCancel, headerLength, 0, cache, false) !=
            headerLength) {
          throw EZAException::CreateForCode(46, this);
        }
        const int32_t volume = std::max<int32_t>(FVolumeInfo.VolumeNumber, 0);
        if (volume >= static_cast<int32_t>(kSaturated16)) {
          item.DiskNumberStart = kSaturated16;
          item.Zip64DiskNumberStart = static_cast<uint32_t>(volume);
          item.HasZip64 = true;
        } else {
          item.DiskNumberStart = static_cast<uint16_t>(volume);
        }
        const int64_t offset = FArchiveStream->Size() + (cache != nullptr ? cache->Size() : 0) - headerLength;
        StoreEffective(offset, Zip64Mode == zmAlways, item.LocalHeaderOffset, item.Zip64LocalHeaderOffset, item.HasZip64);
        const int64_t rest = temp.Size() - headerLength;
        const int64_t copied = CopyStreamAcrossVolumes(temp, FArchiveStream, FVolumeInfo, copyCancel, -1, -1, cache, true);
        if (!copyCancel && copied != rest) throw EZAException::CreateForCode(46, this);
        output.Delete();
      }
      if (!copyCancel && op == poMove && !(item.ExternalAttributes & kFolderAttribute)) {
        st.MovedSources.push_back(item.Pending().SourceFileName);
      }
      ReleaseItemSource(index);
      DoFileProgress(progressName, 100, op, ppEnd, FCancel);
      if (copyCancel) {
        st.Action = fxaAbort;
        return false;
      }
      return true;
    } catch (const EZAStreamError& e) {
      throw streamFailure(this, e);
    }
  } catch (const EZAException& e) {
    // The source stays with the entry: a retry reads it again.
    const TDirItem& failed = current.DirItemAt(index);
    if (failed.Pending().SourceStream) {
      failed.Pending().SourceStream->SetPosition(st.SourceSavedPosition);
    } else {
      st.ItemSource.reset();
    }
    output.Delete();
    try {
      cutBack();
    } catch (const EZAStreamError& cut) {
      throw streamFailure(this, cut);
    }
    // Without an archive stream (a volume request refused) nothing more can be written: the
    // commit stops and the caller learns why.
    if (FArchiveStream == nullptr) {
      st.Action = fxaAbort;
      throw;
    } else {
      const TDirItem& item = current.DirItemAt(index);
      const std::string name(op == poUpdate || item.Pending().SourceFileName.empty()
                                 ? item.Name()
                                 : std::string_view(item.Pending().SourceFileName));
      DoProcessFileFailure(name, op, e.NativeError, e.ErrorCode, e.Message(), st.Action);
    }
    return false;
  } catch (...) {
    ReleaseItemSource(index);
    throw;
  }
}

namespace {

// Where the commit cuts the archive and from which entry it writes: the old entries from
// start on must all lie at or after the cut and the kept ones before it; an archive whose
// entries stand in another order than its directory is rewritten whole.
void chooseCut(TZADirManager& dir, TZACommitState& st) {
  const TZADirArray& backup = dir.BackupDir;
  const int count = backup.DirItemCount();
  auto endOf = [&](const TDirItem& e) {
    return EffectiveLocalHeaderOffset(e) + static_cast<int64_t>(kLocalHeaderSize) + e.NameLength +
           std::max<int64_t>(EffectiveCompressedSize(e), 0);
  };
  if (st.Start >= count) {
    // Only appended entries: the old entries stay, the directory goes.
    st.CutPosition = count > 0 ? dir.CentralDirOffset : dir.StubSize;
    return;
  }
  for (;;) {
    int64_t cut = INT64_MAX;
    for (int j = st.Start; j < count; ++j) cut = std::min(cut, EffectiveLocalHeaderOffset(backup.DirItemAt(j)));
    int64_t headEnd = 0;
    for (int j = 0; j < st.Start; ++j) headEnd = std::max(headEnd, endOf(backup.DirItemAt(j)));
    if (st.Start == 0 || headEnd <= cut) {
      st.CutPosition = st.Start == 0 ? std::min(cut, std::max<int64_t>(dir.StubSize, 0)) : cut;
      if (st.Start == 0 && st.CutPosition < 0) st.CutPosition = 0;
      return;
    }
    st.Start = 0;
  }
}

}  // namespace

void TZABaseArchiver::CommitUpdate() {
  if (FUpdateCount <= 0) return;
  FUpdateCount = 0;
  FItemsDone = 0;
  FModifiedCount = 0;
  FCancel = false;
  FProgressEnabled = true;
  if (!FDirManager || FArchiveStream == nullptr) return;
  if (spanningMode_ != smNone && (FFileOpenMode != kCreateArchiveMode || FVolumesCommitted)) {
    FDirManager->CurrentDir.AssignDirItems(FDirManager->BackupDir);
    throw EZAException::CreateForCode(52, this);
  }
  TZADirArray& current = FDirManager->CurrentDir;
  TZADirArray& backup = FDirManager->BackupDir;
  FCommit = std::make_unique<TZACommitState>();
  TZACommitState& st = *FCommit;
  struct Done {
    TZABaseArchiver& a;
    ~Done() {
      a.FCommit.reset();
      a.FNameIndexValid = false;
    }
  } done{*this};

  // Reads go through the const side, which leaves the segments the backup shares alone.
  const TZADirArray& shown = current;
  int first = -1;
  for (int i = 0; i < current.DirItemCount(); ++i) {
    if (shown.DirItemAt(i).Modified) {
      ++FModifiedCount;
      if (first < 0) first = i;
    }
  }
  st.Start = FirstChangedIndex();
  if (first < 0 && st.Start >= backup.DirItemCount() && backup.DirItemCount() == current.DirItemCount()) {
    return;  // no change: nothing is written
  }
  st.FirstOperation = first >= 0 ? shown.DirItemAt(first).Operation : poDelete;
  DoOverallProgress(0, st.FirstOperation, ppStart, FCancel);
  if (FCancel) {
    current.AssignDirItems(backup);
    return;
  }

  const int backupCount = backup.DirItemCount();
  FNameIndex.Clear();  // names are looked up in the groups until the commit ends
  FNameIndexValid = false;
  st.BackupByName.Build(backup);
  st.OldTailEnd = backupCount > 0 ? FDirManager->CentralDirOffset : FArchiveStream->Size();
  chooseCut(*FDirManager, st);
  // Entries before the start stay where they are.
  for (int j = 0; j < st.Start; ++j) st.BackupByName.Take(j);

  try {
    try {
      CheckKeptEntries();
      st.Moved.Reset(st.Start, current.DirItemCount() - st.Start);
      CopyTailToTempFile(st.Start);
    } catch (const EZAStreamError& e) {
      throw streamFailure(this, e);
    }
  } catch (...) {
    DeleteTempFile();
    current.AssignDirItems(backup);
    throw;
  }
  if (FCancel) {
    DeleteTempFile();
    current.AssignDirItems(backup);
    return;
  }

  bool committed = false;
  st.Action = fxaIgnore;
  if (spanningMode_ != smNone) FVolumeInfo.SetFirstVolume(true);
  try {
    try {
      FArchiveStream->SetSize(st.CutPosition);
      FArchiveStream->SetPosition(st.CutPosition);
      st.Cut = true;
      TZACommitJournal::Step("cut");
      if (spanningMode_ == smSpanning && IsFloppyDrive(FileName)) st.EntryCache = std::make_unique<TZAMemoryStream>();
      FSelectedCount = std::max(current.DirItemCount() - st.Start, 1);
      int i = st.Start;
      while (i < current.DirItemCount() && !FCancel) {
        bool ok = true;
        do {
          st.Action = fxaIgnore;
          ok = true;
          const TDirItem& item = shown.DirItemAt(i);
          if (!item.Modified || !writesData(item.Operation)) {
            CopyItemFromTemp(i);
          } else {
            ok = WriteChangedItem(i);
          }
        } while (st.Action == fxaRetry);
        if (st.Action == fxaAbort || FCancel) break;
        TZACommitJournal::Step("entry");
        if (ok) {
          ++FItemsDone;
          ++i;
        } else {
          // A new entry that could not be written is dropped; a changed one keeps its old bytes.
          const TDirItem& failed = shown.DirItemAt(i);
          if (st.BackupByName.OldEntryOf(backup, failed.Name(), EffectiveLocalHeaderOffset(failed)) >= 0) {
            CopyItemFromTemp(i);
            ++i;
          } else {
            current.DeleteDirItem(i);
            st.Moved.Erase(i);
          }
        }
      }
      const bool stopped = FCancel || st.Action == fxaAbort;
      if (st.EntryCache) {
        if (!stopped) {
          WriteAcrossVolumesChecked(st.EntryCache->Memory(), st.EntryCache->Size(), FArchiveStream, FVolumeInfo, -1,
                                    nullptr);
        }
        st.EntryCache.reset();
      }
      if (!stopped) {
        FDirManager->WriteCentralDir(nullptr, &st.Moved);
        TZACommitJournal::Step("directory");
        // Final once the journal is gone: the new archive is on the disk before the old tail goes.
        if (FArchiveStream != nullptr) flushStream(this, *FArchiveStream);
        TZACommitJournal::Step("flushed");
        if (st.Journal && !st.Journal->Remove()) {
          throw EZAException::CreateForCodeFmt(27, this, {st.Journal->Name()});
        }
        committed = true;
        DeleteTempFile();
      }
    } catch (const EZAStreamError& e) {
      throw streamFailure(this, e);
    }
  } catch (...) {
    if (!committed) {
      RollbackUpdate();
      throw;
    }
    DeleteTempFile();
    throw;
  }

  if (committed) {
    if (spanningMode_ != smNone) FVolumesCommitted = true;
    // The old directory goes first: the entries are then this array's alone and take their
    // new offsets without being copied.
    backup.SetDirItemCount(0);
    st.Moved.StoreInto(current);
    for (int i = 0; i < current.DirItemCount(); ++i) {
      TDirItem& item = current.EditDirItem(i);
      item.Modified = false;
      if (item.HasPending()) {
        item.SetSourceStream(nullptr, false);
        item.EditPending().OldName.clear();
      }
    }
    // Moved files go once the archive holds them; a failure there changes the archive no more.
    for (const std::string& source : st.MovedSources) {
      for (;;) {
        if (::unlink(ToSlashes(source).c_str()) == 0 || errno == ENOENT) break;
        const EZAException e = EZAException::CreateForCodeFmt(27, this, {source});
        st.Action = fxaIgnore;
        DoProcessFileFailure(source, poMove, e.NativeError, e.ErrorCode, e.Message(), st.Action);
        if (st.Action != fxaRetry) break;
      }
      if (st.Action == fxaAbort) break;
    }
    if (!FCancel && st.Action != fxaAbort) DoOverallProgress(100, st.FirstOperation, ppEnd, FCancel);
    return;
  }
  RollbackUpdate();
}

}  // namespace ziparchive
