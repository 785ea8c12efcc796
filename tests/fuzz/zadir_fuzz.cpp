// libFuzzer target: opens an archive from memory and reads its directory, as the updater does
// with what it downloaded. Only the engine's own exceptions may come out.
#include <cstddef>
#include <cstdint>

#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"

using namespace ziparchive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TZAMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, int64_t(size));
  stream.SetPosition(0);
  TZADirManager dir(&stream, nullptr, false);
  try {
    if (dir.ProbeEndRecord()) dir.ReadCentralDir();
    // Walk what was read, as a listing would.
    int64_t total = 0;
    for (int i = 0; i < dir.CurrentDir.DirItemCount(); ++i) {
      const TDirItem& item = dir.CurrentDir.DirItemAt(i);
      total += EffectiveCompressedSize(item) + int64_t(item.Name.size());
      for (const TZAExtraField& f : item.ExtraFields) total += f.DataSize;
    }
    (void)total;
    // Writing the directory back must stay consistent with what was read.
    TZAMemoryStream out;
    dir.WriteCentralDir(&out);
  } catch (const EZAException&) {
  } catch (const EZAStreamError&) {
  }
  return 0;
}
