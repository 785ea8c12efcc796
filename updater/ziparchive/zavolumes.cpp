#include "updater/ziparchive/zavolumes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"

namespace ziparchive {

namespace {

struct NameParts {
  std::string folder, base, ext;  // folder keeps its trailing separator; ext its dot
  bool upper = false;             // the extension is written in capitals
};

NameParts splitName(const std::string& name) {
  NameParts p;
  size_t slash = name.find_last_of("/\\");
  p.folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  size_t dot = file.find_last_of('.');
  p.base = dot == std::string::npos ? file : file.substr(0, dot);
  p.ext = dot == std::string::npos ? std::string() : file.substr(dot);
  bool letters = false, lower = false;
  for (unsigned char c : p.ext) {
    if (std::isalpha(c)) letters = true;
    if (std::islower(c)) lower = true;
  }
  p.upper = letters && !lower;
  return p;
}

std::string inCase(std::string s, bool upper) {
  for (char& c : s) c = char(upper ? std::toupper((unsigned char)c) : std::tolower((unsigned char)c));
  return s;
}

std::string digits(int32_t value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

std::string volumeName(const std::string& name, int32_t n, TZASpanningMode mode, bool advanced, bool sfx,
                       bool upper) {
  if (mode == smNone) return name;
  NameParts p = splitName(name);
  if (n < 0) return mode == smSplitting && sfx ? p.folder + p.base + inCase(".zip", upper) : name;
  std::string numbered = p.folder + p.base + "_" + digits(n + 1, 3);
  if (mode == smSpanning) {
    std::string x = sfx ? inCase(".exe", upper) : p.ext;
    return advanced ? numbered + x : p.folder + p.base + x;
  }
  if (n == 0 && sfx) return p.folder + p.base + inCase(".exe", upper);
  return advanced ? numbered + p.ext : p.folder + p.base + inCase(".z", upper) + digits(n + 1, 2);
}

bool fileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Restores a flag when the scope ends, also on an exception.
class FlagRestorer {
 public:
  explicit FlagRestorer(bool& flag) : flag_(flag), saved_(flag) {}
  ~FlagRestorer() { flag_ = saved_; }

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

std::string VolumeFileNameFor(const std::string& name, int32_t n, TZASpanningMode mode, bool advancedNaming,
                              bool sfx) {
  return volumeName(name, n, mode, advancedNaming, sfx, splitName(name).upper);
}

std::string OtherCaseVolumeFileName(const std::string& name, int32_t n, TZASpanningMode mode,
                                    bool advancedNaming, bool sfx) {
  return volumeName(name, n, mode, advancedNaming, sfx, !splitName(name).upper);
}

bool IsSfxName(const std::string& name) {
  return inCase(splitName(name).ext, false).find(".exe") != std::string::npos;
}

bool FileIdentityOf(const std::string& path, TZAFileIdentity& identity) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  identity.Device = st.st_dev;
  identity.Inode = st.st_ino;
  return true;
}

bool SetVolumeLabelOf(const platform::MountInfo& medium, const std::string& label) {
  const int fd = ::open(medium.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Only the medium the mount table names: never a disk that happens to hold the folder.
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0 && major(st.st_dev) == medium.major && minor(st.st_dev) == medium.minor;
  if (ok) {
    char buf[FSLABEL_MAX] = {};
    std::strncpy(buf, label.c_str(), FSLABEL_MAX - 1);
    ok = ::ioctl(fd, FS_IOC_SETFSLABEL, buf) == 0;
  }
  ::close(fd);
  return ok;
}

namespace {
TZAVolumeLabeller& labeller() {
  static TZAVolumeLabeller instance;
  return instance;
}
}  // namespace

void SetVolumeLabeller(TZAVolumeLabeller l) { labeller() = std::move(l); }

bool LabelVolume(const platform::MountInfo& medium, const std::string& label) {
  return labeller() ? labeller()(medium, label) : SetVolumeLabelOf(medium, label);
}

// ---- naming and free space ----

void TZABaseArchiver::GetVolumeFileName(std::string& Name, int32_t N, bool CheckExists) {
  const bool sfx = (FDirManager && FDirManager->StubSize != 0) || !SFXStub.empty() || IsSfxName(Name);
  const bool advanced = SpanningOptions.AdvancedNaming;
  std::string chosen = VolumeFileNameFor(Name, N, spanningMode_, advanced, sfx);
  if (CheckExists && N >= 0 && spanningMode_ != smNone && !fileExists(chosen)) {
    // Another tool may have written the suffix in the other case; spanned disks may also
    // carry the other naming scheme.
    std::vector<std::string> others{OtherCaseVolumeFileName(Name, N, spanningMode_, advanced, sfx)};
    if (spanningMode_ == smSpanning) {
      others.push_back(VolumeFileNameFor(Name, N, spanningMode_, !advanced, sfx));
      others.push_back(OtherCaseVolumeFileName(Name, N, spanningMode_, !advanced, sfx));
    }
    for (const std::string& other : others) {
      if (fileExists(other)) {
        chosen = other;
        break;
      }
    }
  }
  Name = chosen;
}

int64_t FreeSpaceOfFolder(const std::string& folder) {
  struct statvfs st{};
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

int64_t TZABaseArchiver::FreeSpaceOfDrive(const std::string& path) {
  // A spanned volume's drive is its medium.
  if (spanningMode_ == smSpanning && DrivePart(path).empty()) return FreeSpaceOfMedium(ToSlashes(path));
  std::string folder = ToSlashes(path);
  while (!folder.empty() && !DirExists(folder)) {
    size_t cut = folder.find_last_of('/');
    folder = cut == std::string::npos ? std::string() : (cut == 0 ? std::string("/") : folder.substr(0, cut));
  }
  if (folder.empty()) folder = ".";
  return FreeSpaceOfFolder(folder);
}

// ---- opening volumes ----

void TZABaseArchiver::OpenVolumeFile(const std::string& name) {
  if (FArchiveStream && !FStreamHandedIn) delete FArchiveStream;
  FArchiveStream = nullptr;
  FArchiveStream = new TZAFileStream(ToSlashes(name), FFileOpenMode, 0644);
  FStreamHandedIn = false;
  FCurrentVolumeFileName = name;
}

void TZABaseArchiver::OpenVolume(const TZAVolumeNumberInfo& info) {
  const TZAVolumeNumberInfo wanted = info;
  auto takePosition = [&] {
    FVolumeInfo.VolumeNumber = wanted.VolumeNumber;
    FVolumeInfo.VolumeKind = wanted.VolumeKind;
  };
  if (spanningMode_ == smNone) {
    if (!FArchiveStream) OpenVolumeFile(FileName);
    takePosition();
    return;
  }
  bool cancel = false;
  if (FFileOpenMode == kCreateArchiveMode) {
    if (FArchiveStream && !FStreamHandedIn) delete FArchiveStream;
    FArchiveStream = nullptr;
    const int64_t limit = SpanningOptions.VolumeSizeFor(wanted);
    for (;;) {
      std::string name = FileName;
      DoRequestBlankVolume(wanted.VolumeNumber, name, cancel);
      if (cancel) break;
      // No medium in the drive: ask again.
      if (!FollowMedium(name)) continue;
      int64_t free = FreeSpaceOfDrive(name);
      // A volume written in this run is never truncated again to serve as a blank one.
      TZAFileIdentity identity;
      bool reused = FileIdentityOf(name, identity) &&
                    std::find(FWrittenVolumes.begin(), FWrittenVolumes.end(), identity) != FWrittenVolumes.end();
      if (!reused && free > 65536 && (limit <= 0 || free >= limit)) {
        OpenVolumeFile(name);
        if (FileIdentityOf(name, identity)) FWrittenVolumes.push_back(identity);
        FWrittenVolumeNames.push_back(name);
        if (spanningMode_ == smSpanning) LabelMedium(name, wanted.VolumeNumber);
        takePosition();
        return;
      }
      DoDiskFull(wanted.VolumeNumber, name, cancel);
      if (cancel) break;
    }
    throw EZAException::CreateForCode(45, this);
  }
  if (FVolumeInfo.SameVolumeAs(wanted)) return;
  for (;;) {
    std::string name = FileName;
    cancel = true;
    if (wanted.IsFirstVolume()) {
      DoRequestFirstVolume(name, cancel);
    } else if (wanted.IsLastVolume()) {
      DoRequestLastVolume(name, cancel);
    } else {
      DoRequestMiddleVolume(wanted.VolumeNumber, name, cancel);
    }
    if (cancel) break;
    if (name.empty() && spanningMode_ != smSpanning) return;
    if (!name.empty() && FollowMedium(name) && fileExists(ToSlashes(name))) {
      OpenVolumeFile(name);
      takePosition();
      return;
    }
  }
  throw EZAException::CreateForCode(45, this);
}

// ---- writing across volumes ----

int64_t TZABaseArchiver::WriteAcrossVolumes(const void* buffer, int64_t count, TZAStream*& target,
                                            TZAVolumeNumberInfo& info, int64_t reserve, TZAStream* cache) {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  if (spanningMode_ == smNone) return count > 0 ? target->Write(bytes, count) : 0;
  int64_t taken = 0;
  while (taken < count) {
    const int64_t cached = cache ? cache->Size() : 0;
    int64_t room = FreeSpaceOfDrive(FCurrentVolumeFileName) - cached;
    const int64_t limit = SpanningOptions.VolumeSizeFor(info);
    if (limit != -1) room = std::min(room, limit - target->Size() - cached);
    if (room < 0) break;
    const int64_t left = count - taken;
    const bool empty = target->Size() + cached == 0;
    if (reserve != -1 && reserve + left > room) {
      // A block that does not fit an empty volume never will: stop instead of making
      // empty volumes without end.
      if (empty) break;
    } else {
      int64_t chunk = std::min(room, left);
      if (chunk > 0) {
        TZAStream* to = cache ? cache : target;
        int64_t moved = to->Write(bytes + taken, chunk);
        taken += std::max<int64_t>(moved, 0);
        if (moved < chunk) break;  // the device failed: report the shortfall
      } else if (empty) {
        break;
      }
    }
    if (taken >= count) break;
    if (cache && cache->Size() > 0) {
      cache->SetPosition(0);
      target->Seek(0, soEnd);
      target->CopyFrom(*cache, cache->Size());
      cache->SetSize(0);
    }
    if (spanningMode_ == smSpanning)
      if (auto* file = dynamic_cast<TZAFileStream*>(target)) file->Flush();
    info.SetVolumeNumber(info.VolumeNumber + 1);
    OpenVolume(info);
    target = FArchiveStream;
  }
  return taken;
}

void TZABaseArchiver::WriteAcrossVolumesChecked(const void* buffer, int64_t count, TZAStream*& target,
                                                TZAVolumeNumberInfo& info, int64_t reserve, TZAStream* cache) {
  if (WriteAcrossVolumes(buffer, count, target, info, reserve, cache) < count)
    throw EZAException::CreateForCode(46, this);
}

int64_t TZABaseArchiver::CopyStreamAcrossVolumes(TZAStream& source, TZAStream*& target, TZAVolumeNumberInfo& info,
                                                 bool& cancel, int64_t count, int64_t reserve, TZAStream* cache,
                                                 bool showProgress) {
  constexpr int64_t kBuffer = 1000000;
  std::vector<uint8_t> buffer(static_cast<size_t>(kBuffer));
  const int64_t total = count == -1 ? source.Size() - source.Position() : count;
  int64_t done = 0;
  if (showProgress) {
    DoCopyTempFileProgress(0, ppStart, cancel);
    if (cancel) return 0;
  }
  while (done < total) {
    int64_t want = std::min(kBuffer, total - done);
    int64_t got = source.Read(buffer.data(), want);
    if (got <= 0) break;  // the source ended early
    int64_t put = WriteAcrossVolumes(buffer.data(), got, target, info, reserve, cache);
    done += put;
    if (showProgress) {
      DoCopyTempFileProgress(total > 0 ? double(done) / double(total) * 100 : 100, ppProcess, cancel);
      if (cancel) break;
    }
    if (put < got) break;  // no more room
  }
  if (showProgress) DoCopyTempFileProgress(100, ppEnd, cancel);
  return done;
}

// The last volume written gets the archive's own name (volume -1).
void TZABaseArchiver::FinishLastVolume() {
  if (spanningMode_ == smNone || FCurrentVolumeFileName == FileName) return;
  std::string final = FileName;
  GetVolumeFileName(final, -1, false);
  if (final == FCurrentVolumeFileName) return;
  // The name may already hold a volume of this archive (the requests chose the names): that
  // volume is never deleted, and the last one keeps its own name.
  TZAFileIdentity existing;
  if (FileIdentityOf(ToSlashes(final), existing) &&
      std::find(FWrittenVolumes.begin(), FWrittenVolumes.end(), existing) != FWrittenVolumes.end())
    return;
  std::string current = FCurrentVolumeFileName;
  if (FArchiveStream && !FStreamHandedIn) delete FArchiveStream;
  FArchiveStream = nullptr;
  ::unlink(ToSlashes(final).c_str());
  if (::rename(ToSlashes(current).c_str(), ToSlashes(final).c_str()) != 0) {
    FArchiveStream = new TZAFileStream(ToSlashes(current), fmOpenReadWrite | fmShareDenyNone);
    throw EZAException::CreateForCode(46, this);
  }
  FArchiveStream = new TZAFileStream(ToSlashes(final), fmOpenReadWrite | fmShareDenyNone);
  FCurrentVolumeFileName = final;
}

// ---- the open dispatch ----

void TZABaseArchiver::CreateNewArchive() {
  FWrittenVolumes.clear();
  FWrittenVolumeNames.clear();
  FVolumesCommitted = false;
  if (inMemory_) {
    FArchiveStream = new TZAMemoryStream;
    FStreamHandedIn = false;
    FDirManager = std::make_shared<TZADirManager>(FArchiveStream, this, true);
    return;
  }
  TZAVolumeNumberInfo first;
  first.SetFirstVolume(true);
  OpenVolume(first);
  FDirManager = std::make_shared<TZADirManager>(FArchiveStream, this, true);
}

void TZABaseArchiver::DetectSpanningMode(bool found) {
  if (!found) {
    spanningMode_ = IsRemovableDrive(FileName) ? smSpanning : smNone;
    return;
  }
  TZAEndRecord end = FDirManager->EndRecordFields();
  int32_t d = end.ThisVolume == kSaturated16 ? 0 : end.ThisVolume;
  if (d == 0) {
    spanningMode_ = smNone;
    return;
  }
  spanningMode_ = smSplitting;
  auto previousExists = [&] {
    std::string name = FileName;
    GetVolumeFileName(name, d - 1, true);
    return fileExists(ToSlashes(name));
  };
  if (previousExists()) return;
  SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
  if (previousExists()) return;
  SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
  spanningMode_ = inCase(FileName, false).find(".exe") != std::string::npos ? smNone : smSpanning;
}

void TZABaseArchiver::OpenArchiveFile() {
  FlagRestorer restore(FOpenDamaged);
  FOpenDamaged = false;
  ProbeLastVolume(true);
}

// Opens the last volume and looks for its end record, again while the archive turns out to
// be spanned and the user inserts disks.
void TZABaseArchiver::ProbeLastVolume(bool missingMeansSpanned) {
  bool found = false;
  do {
    FDirManager.reset();
    FVolumeInfo.ResetVolumeInfo();
    TZAVolumeNumberInfo last;
    last.SetLastVolume(true);
    if (missingMeansSpanned && !fileExists(ToSlashes(FileName)) && IsRemovableDrive(FileName))
      spanningMode_ = smSpanning;
    OpenVolume(last);
    FDirManager = std::make_shared<TZADirManager>(FArchiveStream, this, false);
    found = FDirManager->ProbeEndRecord();
    DetectSpanningMode(found);
  } while (!found && spanningMode_ != smNone);
}

void TZABaseArchiver::OpenSplitArchive() {
  FlagRestorer restore(FOpenDamaged);
  TZAVolumeNumberInfo last;
  last.SetLastVolume(true);
  OpenVolume(last);
  FDirManager = std::make_shared<TZADirManager>(FArchiveStream, this, false);
  FOpenDamaged = false;
  if (FDirManager->ProbeEndRecord()) {
    DetectSpanningMode(true);
    return;
  }
  // A self-extracting first volume: the directory is in the last volume, "<name>.zip".
  FDirManager.reset();
  spanningMode_ = smSplitting;
  std::string lastName = FileName;
  GetVolumeFileName(lastName, -1, false);
  std::string other = OtherCaseVolumeFileName(FileName, -1, smSplitting, SpanningOptions.AdvancedNaming, true);
  if (!fileExists(ToSlashes(lastName)) && fileExists(ToSlashes(other))) lastName = other;
  if (fileExists(ToSlashes(lastName))) {
    FVolumeInfo.ResetVolumeInfo();
    OpenVolumeFile(lastName);
    FVolumeInfo.SetLastVolume(true);
  }
  spanningMode_ = smNone;
  ProbeLastVolume(false);
}

void TZABaseArchiver::InternalOpen() {
  // A failed open leaves the volume settings as the caller set them.
  const TZASpanningMode mode = spanningMode_;
  const bool advancedNaming = SpanningOptions.AdvancedNaming;
  FMedium.reset();
  FOpenedAs = {};
  try {
    // A commit cut short is undone before anything is read, or before the file is made anew
    // (its journal would otherwise outlive it).
    if (!inMemory_ && !FileName.empty()) TZACommitJournal::Recover(ToSlashes(FileName), this);
    if (FFileOpenMode == kCreateArchiveMode || inMemory_) {
      CreateNewArchive();
    } else {
      spanningMode_ = smNone;
      FVolumeInfo.ResetVolumeInfo();
      if (IsSfxName(FileName)) {
        OpenSplitArchive();
      } else {
        OpenArchiveFile();
      }
      // The medium a spanned archive was found on is the one its other volumes follow.
      if (spanningMode_ == smSpanning) FMedium = RemovableMountOf(FCurrentVolumeFileName);
      if (!FDirManager->ProbeEndRecord()) throw EZAException::CreateForCode(48, this);
      FDirManager->ReadCentralDir();
      // Entries that share data would inflate the same bytes again and again.
      if (EntryRangesOverlap(FDirManager->CurrentDir)) throw EZAException::CreateForCode(35, this);
      // What a commit checks the archive against before it writes.
      if (spanningMode_ == smNone) FOpenedAs = TZAArchiveSnapshot::Of(FArchiveStream);
    }
  } catch (...) {
    ReleaseArchive();
    spanningMode_ = mode;
    SpanningOptions.AdvancedNaming = advancedNaming;
    throw;
  }
  FActive = true;
  DoAfterOpen();
}

}  // namespace ziparchive
