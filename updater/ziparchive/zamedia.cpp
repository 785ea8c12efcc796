// Spanned archives on removable media. A volume lives on "the medium", not in a folder: the
// medium is the mount of a removable device, and the next medium the user inserts may be
// mounted elsewhere (desktops name the mount after the label), so the archive's names follow it.
#include <cstdio>
#include <string>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zapaths.h"
#include "updater/ziparchive/zavolumes.h"

namespace ziparchive {

namespace {

bool Below(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return !path.empty() && path[0] == '/';
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

std::string ParentOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string(".") : (cut == 0 ? std::string("/") : path.substr(0, cut));
}

// The medium most likely to be the one asked for: the same device (a card reader keeps its
// node), else a mount beside the old one, else any; the latest mounted among equals.
const platform::MountInfo& LikeliestMedium(const std::vector<platform::MountInfo>& media,
                                           const platform::MountInfo& previous) {
  auto rank = [&](const platform::MountInfo& m) {
    if (m.major == previous.major && m.minor == previous.minor) return 2;
    return ParentOf(m.mountPoint) == ParentOf(previous.mountPoint) ? 1 : 0;
  };
  const platform::MountInfo* best = &media.front();
  for (const platform::MountInfo& m : media) {
    if (rank(m) >= rank(*best)) best = &m;
  }
  return *best;
}

}  // namespace

bool TZABaseArchiver::FollowMedium(std::string& name) {
  if (spanningMode_ != smSpanning || name.empty() || !DrivePart(name).empty()) return true;
  const bool creating = FFileOpenMode == kCreateArchiveMode;
  std::string path = FullPathOf(name, "");
  if (auto medium = RemovableMountOf(path)) {
    FMedium = std::move(medium);
  } else if (FMedium && Below(FMedium->mountPoint, path)) {
    // The archive's medium has left its mount: take the one in the drive now, wherever it is.
    const std::vector<platform::MountInfo> media = RemovableMounts();
    if (media.empty()) return false;
    const platform::MountInfo& next = LikeliestMedium(media, *FMedium);
    const std::string file = FullPathOf(FileName, "");
    if (Below(FMedium->mountPoint, file)) FileName = next.mountPoint + file.substr(FMedium->mountPoint.size());
    path = next.mountPoint + path.substr(FMedium->mountPoint.size());
    name = path;
    FMedium = next;
  } else {
    // Volumes in plain folders: a folder that is not there is a disk that is not in.
    return DirExists(ParentOf(path));
  }
  // A blank medium gets the archive's folders.
  return !creating || DirExists(ParentOf(path)) || MakeDirs(ParentOf(path));
}

int64_t TZABaseArchiver::FreeSpaceOfMedium(const std::string& path) {
  const std::string full = FullPathOf(path, "");
  if (auto medium = RemovableMountOf(full)) return FreeSpaceOfFolder(medium->mountPoint);
  // Never the free space of the disk that holds an empty mount point.
  if (FMedium && Below(FMedium->mountPoint, full)) return -1;
  return FreeSpaceOfFolder(ParentOf(full));
}

void TZABaseArchiver::LabelMedium(const std::string& name, int32_t volumeNumber) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", volumeNumber + 1);
  // A refusal (no rights, a file system without labels) changes nothing.
  if (auto medium = RemovableMountOf(FullPathOf(name, ""))) LabelVolume(*medium, std::string("pkback# ") + digits);
}

}  // namespace ziparchive
