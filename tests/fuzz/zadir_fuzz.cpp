// libFuzzer target: opens an archive from memory and reads its directory, as the updater does
// with what it downloaded, then decompresses every entry to a discarding sink. Only the
// engine's own exceptions may come out.
#include <cstddef>
#include <cstdint>

#include <memory>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
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
      total += EffectiveCompressedSize(item) + int64_t(item.Name().size());
      for (const TZAExtraFieldView f : item.ExtraFields()) total += f.DataSize;
    }
    (void)total;
    // Every entry's data, as a test run reads it; the open refuses overlapping entries.
    if (!EntryRangesOverlap(dir.CurrentDir)) {
      TZipArchiver zip;
      zip.FDirManager = std::shared_ptr<TZADirManager>(&dir, [](TZADirManager*) {});
      for (int i = 0; i < dir.CurrentDir.DirItemCount(); ++i) {
        TDirItem& item = dir.CurrentDir.DirItemAt(i);
        TZADiscardStream sink;
        try {
          stream.SetPosition(EffectiveLocalHeaderOffset(item));
          zip.DecompressItem(stream, sink, item);
        } catch (const EZAException&) {
        } catch (const EZAStreamError&) {
        }
      }
      zip.FDirManager.reset();
    }
    // Writing the directory back must stay consistent with what was read.
    TZAMemoryStream out;
    dir.WriteCentralDir(&out);
  } catch (const EZAException&) {
  } catch (const EZAStreamError&) {
  }
  return 0;
}
