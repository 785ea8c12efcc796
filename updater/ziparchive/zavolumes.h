#pragma once
// Volume names of multi-volume archives, and the file-system facts the volume code asks for.
// The volume steps themselves (OpenVolume, WriteAcrossVolumes, the open dispatch) are members
// of TZABaseArchiver, in zavolumes.cpp.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/drives.h"

#include "updater/ziparchive/zaspanning.h"

namespace ziparchive {

// Name of volume n (-1: the last volume) of the archive called name. Suffixes the scheme adds
// (".z01", ".exe", ".zip") follow the case of the archive's own extension, so "arc.ZIP" gives
// "arc.Z01" and "arc.zip" gives "arc.z01".
std::string VolumeFileNameFor(const std::string& name, int32_t n, TZASpanningMode mode,
                              bool advancedNaming, bool sfx);
// The same name with the added suffix in the other case ("arc.z01" <-> "arc.Z01"); the name
// itself when the scheme added no letters.
std::string OtherCaseVolumeFileName(const std::string& name, int32_t n, TZASpanningMode mode,
                                    bool advancedNaming, bool sfx);

// The extension of name, in lower case, holds ".exe".
bool IsSfxName(const std::string& name);

// Identity of an existing file (device and inode); false when it does not exist.
struct TZAFileIdentity {
  uint64_t Device = 0, Inode = 0;
  bool operator==(const TZAFileIdentity&) const = default;
};
bool FileIdentityOf(const std::string& path, TZAFileIdentity& identity);

// Bytes free for the caller on the file system of an existing folder; -1 when unknown.
int64_t FreeSpaceOfFolder(const std::string& folder);

// Labels the file system of a mounted medium; false when it cannot (no rights, a file system
// without labels, another device at the mount point by now). The callers ignore a refusal.
bool SetVolumeLabelOf(const platform::MountInfo& medium, const std::string& label);
// Who labels media (tests); an empty function restores SetVolumeLabelOf.
using TZAVolumeLabeller = std::function<bool(const platform::MountInfo& medium, const std::string& label)>;
void SetVolumeLabeller(TZAVolumeLabeller labeller);
bool LabelVolume(const platform::MountInfo& medium, const std::string& label);

}  // namespace ziparchive
