// Single-file versions of steps that grow with the directory reader, the entry search and
// the batch loop; each moves to its own file, with its full behaviour, when those arrive.
#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaformat.h"
#include "updater/ziparchive/zalock.h"

namespace ziparchive {

void TZABaseArchiver::InternalOpen() {
  if (FFileOpenMode == kCreateArchiveMode || inMemory_) {
    FArchiveStream = inMemory_ ? static_cast<TZAStream*>(new TZAMemoryStream)
                               : new TZAFileStream(ToSlashes(FileName), fmCreate, 0644);
  } else {
    FArchiveStream = new TZAFileStream(ToSlashes(FileName), FFileOpenMode);
  }
  FCurrentVolumeFileName = FileName;
  FActive = true;
  DoAfterOpen();
}

bool TZABaseArchiver::ItemMatches(TZAArchiveItem&) { return false; }

void TZABaseArchiver::CollectItems(const std::string&, int32_t, const std::string&) {}

void TZABaseArchiver::ProcessFiles(TZAProcessOperation) { TZALockGuard lock; }

void TZABaseArchiver::GetVolumeFileName(std::string& Name, int32_t N, bool CheckExists) {
  if (spanningMode_ == smNone) return;
  size_t slash = Name.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? std::string() : Name.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? Name : Name.substr(slash + 1);
  size_t dot = file.find_last_of('.');
  std::string base = dot == std::string::npos ? file : file.substr(0, dot);
  std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
  std::string lowerExt = ext;
  std::transform(lowerExt.begin(), lowerExt.end(), lowerExt.begin(), [](unsigned char c) { return std::tolower(c); });
  bool sfx = !SFXStub.empty() || lowerExt.find(".exe") != std::string::npos;
  if (N < 0) {
    if (spanningMode_ == smSplitting && sfx) Name = folder + base + ".ZIP";
    return;
  }
  std::string advanced = folder + base + "_" + FormatText("%.3u", {static_cast<unsigned>(N + 1)});
  if (spanningMode_ == smSpanning) {
    std::string x = sfx ? ".exe" : ext;
    std::string chosen = SpanningOptions.AdvancedNaming ? advanced + x : folder + base + x;
    std::string other = SpanningOptions.AdvancedNaming ? folder + base + x : advanced + x;
    Name = (CheckExists && !FileExists(chosen) && FileExists(other)) ? other : chosen;
  } else if (N == 0 && sfx) {
    Name = folder + base + ".exe";
  } else {
    Name = SpanningOptions.AdvancedNaming ? advanced + ext : folder + base + ".Z" + FormatText("%.2d", {N + 1});
  }
}

int64_t TZABaseArchiver::FreeSpaceOfDrive(const std::string& path) {
  std::string p = ToSlashes(path);
  std::string folder = p;
  while (!folder.empty() && !DirExists(folder)) {
    size_t cut = folder.find_last_of('/');
    folder = cut == std::string::npos || cut == 0 ? (cut == 0 ? "/" : "") : folder.substr(0, cut);
  }
  if (folder.empty()) folder = ".";
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

}  // namespace ziparchive
