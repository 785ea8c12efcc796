#include "updater/ziparchive/zaspanning.h"

namespace ziparchive {

int64_t TZASpanningOptions::VolumeSizeFor(const TZAVolumeNumberInfo& info) const {
  if (info.IsFirstVolume() && FirstVolumeSize > 0) return FirstVolumeSize;
  switch (VolumeSize) {
    case vsAutoDetect: return -1;
    case vsCustom: return customVolumeSize_;
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
    case vs4700MB: return 4928307200LL;
  }
  return -1;
}

}  // namespace ziparchive
