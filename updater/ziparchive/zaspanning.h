#pragma once
// Volume settings and the volume position of a multi-volume archive.
#include <cstdint>

namespace ziparchive {

enum TZASpanningMode : uint8_t { smNone, smSpanning, smSplitting };

enum TZAVolumeSize : uint8_t {
  vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB, vs4700MB
};

enum TZAVolumeKind : uint8_t { vkFirst, vkLast, vkNumbered, vkUnknown };

class TZAVolumeNumberInfo {
 public:
  TZAVolumeKind VolumeKind = vkUnknown;
  int32_t VolumeNumber = -1;
  int32_t LastVolumeNumber = -1;

  bool IsFirstVolume() const { return VolumeNumber == 0; }
  void SetFirstVolume(bool flag) {
    if (flag) {
      VolumeNumber = 0;
      VolumeKind = vkFirst;
    }
  }
  bool IsLastVolume() const {
    return LastVolumeNumber < 0 ? VolumeKind == vkLast : VolumeNumber == LastVolumeNumber;
  }
  void SetLastVolume(bool flag) {
    if (flag) {
      VolumeNumber = LastVolumeNumber;
      VolumeKind = vkLast;
    }
  }
  void SetVolumeNumber(int32_t n) {
    VolumeKind = vkNumbered;
    VolumeNumber = n;
  }
  void ResetVolumeInfo() {
    VolumeKind = vkUnknown;
    VolumeNumber = -1;
    LastVolumeNumber = -1;
  }
  bool SameVolumeAs(const TZAVolumeNumberInfo& other) const {
    if (IsLastVolume()) return other.IsLastVolume();
    if (IsFirstVolume()) return other.IsFirstVolume();
    if (VolumeNumber < 0) return VolumeKind == other.VolumeKind;
    return VolumeNumber == other.VolumeNumber;
  }
};

class TZASpanningOptions {
 public:
  bool AdvancedNaming = true;
  int64_t FirstVolumeSize = 0;
  TZAVolumeSize VolumeSize = vsAutoDetect;

  int64_t CustomVolumeSize() const { return customVolumeSize_; }
  void SetCustomVolumeSize(int64_t size) { customVolumeSize_ = size < 65536 ? 65536 : size; }
  void Assign(const TZASpanningOptions& source) {
    AdvancedNaming = source.AdvancedNaming;
    FirstVolumeSize = source.FirstVolumeSize;
    VolumeSize = source.VolumeSize;
    customVolumeSize_ = source.customVolumeSize_;
  }
  // Byte limit of the volume that info names; -1 for none.
  int64_t VolumeSizeFor(const TZAVolumeNumberInfo& info) const;

 private:
  int64_t customVolumeSize_ = 0;
};

}  // namespace ziparchive
