// libFuzzer target: opens an archive from memory and reads its directory, as the updater does
// with what it downloaded, then decompresses every entry to a discarding sink; then commits
// the deletion of the first entry into memory and opens the result again. Only the engine's
// own exceptions may come out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <memory>
#include <string_view>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"

using namespace ziparchive;

namespace {

// Deletes the first entry through an update of the archive held in memory. A commit that
// reports success must leave an archive that opens with one entry fewer.
void commitDeletion(const uint8_t* data, size_t size) {
  TZipArchiver zip;
  zip.Zip64Mode = zmAuto;
  auto* stream = new TZAMemoryStream;
  if (size > 0) stream->WriteBuffer(data, int64_t(size));
  zip.FArchiveStream = stream;  // the component frees it
  zip.FFileOpenMode = kOpenReadWriteDenyWrite;
  zip.FDirManager = std::make_shared<TZADirManager>(stream, &zip, false);
  int before = 0;
  bool committed = false;
  try {
    if (!zip.FDirManager->ProbeEndRecord()) return;
    zip.FDirManager->ReadCentralDir();
    before = zip.FDirManager->CurrentDir.DirItemCount();
    if (before == 0 || EntryRangesOverlap(zip.FDirManager->CurrentDir)) return;
    zip.FActive = true;
    zip.BeginUpdate();
    zip.DeleteDirEntry(0);
    zip.EndUpdate();
    committed = true;
  } catch (const EZAException&) {
  } catch (const EZAStreamError&) {
  }
  if (!committed) return;
  // A comment that holds an end record of its own may hide ours: the format's rule.
  const std::string_view comment = zip.FDirManager->ArchiveComment;
  if (comment.find(std::string_view("PK\x05\x06", 4)) != std::string_view::npos) return;
  TZAMemoryStream result;
  stream->SetPosition(0);
  result.CopyFrom(*stream, stream->Size());
  TZADirManager reopened(&result, nullptr, false);
  try {
    if (!reopened.ProbeEndRecord()) std::abort();
    reopened.ReadCentralDir();
  } catch (const EZAException&) {
    std::abort();  // what the commit wrote does not open
  }
  if (reopened.CurrentDir.DirItemCount() != before - 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  commitDeletion(data, size);
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
        const TDirItem& item = dir.CurrentDir.DirItemAt(i);
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
