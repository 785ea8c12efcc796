// Before a commit writes anything: every old entry that the new archive keeps must be whole,
// stand on its own bytes and pass its data check; otherwise the commit is refused and the
// archive stays as it is. A damaged archive (cut short, directory rebuilt from its local
// headers, entries sharing bytes, data failing its CRC-32) is never written into.
#include <algorithm>
#include <string>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

constexpr uint16_t kEncryptedFlag = 0x0001;

// count bytes of the archive from the position it stands at.
class BoundedSource : public TZADataSource {
 public:
  BoundedSource(TZAStream& s, int64_t count) : s_(s), left_(count) {}
  int64_t ReadData(void* buffer, int64_t count) override {
    const int64_t n = s_.Read(buffer, std::min(count, left_));
    left_ -= std::max<int64_t>(n, 0);
    return n;
  }

 private:
  TZAStream& s_;
  int64_t left_;
};

class NullSink : public TZADataSink {
 public:
  bool WriteData(const void*, int64_t) override { return true; }
};

struct KeptRange {
  int64_t start, end;
  int index;
};

}  // namespace

void TZABaseArchiver::CheckKeptEntries() {
  if (spanningMode_ != smNone || FArchiveStream == nullptr) return;
  TZACommitState& st = *FCommit;
  const TZADirArray& backup = FDirManager->BackupDir;
  const TZADirArray& current = FDirManager->CurrentDir;
  const int count = backup.DirItemCount();
  if (count == 0) return;

  // The old entries that the new archive holds: unchanged, renamed or with new attributes or
  // comment. Replaced and removed ones go, whatever their state.
  std::vector<bool> kept(static_cast<size_t>(count), false);
  for (int i = 0; i < current.DirItemCount(); ++i) {
    const TDirItem& item = current.DirItemAt(i);
    const bool replaced = item.Modified && item.Operation != poRename && item.Operation != poChangeComment &&
                          item.Operation != poChangeAttr;
    if (replaced) continue;
    const bool renamed = item.Operation == poRename && !item.Pending().OldName.empty();
    const std::string key(renamed ? std::string_view(item.Pending().OldName) : item.Name());
    for (auto [it, last] = st.BackupByName.equal_range(key); it != last; ++it) kept[static_cast<size_t>(it->second)] = true;
  }

  TZAStream& archive = *FArchiveStream;
  const int64_t limit = std::min(FDirManager->CentralDirOffset, archive.Size());
  auto refuse = [&](int32_t code, const TDirItem& e, const std::string& why) {
    return EZAException::CreateForCode(code, this)
        .AppendDetail("\"" + std::string(e.Name()) + "\": " + why + "; the archive is left unchanged");
  };
  std::vector<KeptRange> ranges;
  std::vector<uint8_t> buffer;
  for (int j = 0; j < count; ++j) {
    if (!kept[static_cast<size_t>(j)]) continue;
    const TDirItem& e = backup.DirItemAt(j);
    const int64_t offset = EffectiveLocalHeaderOffset(e);
    const int64_t csize = EffectiveCompressedSize(e);
    if (offset < 0 || csize < 0 || offset > limit - static_cast<int64_t>(kLocalHeaderSize)) {
      throw refuse(35, e, "entry cut short");
    }
    uint8_t raw[kLocalHeaderSize];
    archive.SetPosition(offset);
    archive.ReadBuffer(raw, kLocalHeaderSize);
    TZALocalHeader h;
    DecodeLocalHeader(raw, h);
    if (h.Signature != kLocalHeaderSignature) throw refuse(35, e, "no local header where the directory points");
    const int64_t dataStart = offset + static_cast<int64_t>(kLocalHeaderSize) + h.NameLength + h.ExtraLength;
    if (dataStart > limit || csize > limit - dataStart) throw refuse(35, e, "entry cut short");
    const int64_t end = dataStart + csize;
    // Entries before the cut stay where they are: nothing new may be written over them.
    if (j < st.Start && end > st.CutPosition) throw refuse(35, e, "entry overlaps the entries after it");
    ranges.push_back({offset, end, j});

    const uint16_t method = e.CompressionMethod;
    if (((e.Flags | h.Flags) & kEncryptedFlag) || (method != kMethodStored && method != kMethodDeflated)) {
      continue;  // no password, or a method this engine cannot decode: the bytes are kept as they are
    }
    archive.SetPosition(dataStart);
    BoundedSource source(archive, csize);
    NullSink sink;
    TZAInflateJob job;
    job.Method = method;
    job.CompressedSize = csize;
    job.UncompressedSize = EffectiveUncompressedSize(e);
    job.Crc32 = e.Crc32;
    const TZADataOutcome out = DecodeEntryData(source, sink, job);
    if (out.Status != TZADataStatus::Ok) throw refuse(8, e, DataStatusText(out.Status));
  }
  std::sort(ranges.begin(), ranges.end(), [](const KeptRange& a, const KeptRange& b) { return a.start < b.start; });
  for (size_t k = 1; k < ranges.size(); ++k) {
    if (ranges[k].start < ranges[k - 1].end) {
      throw refuse(35, backup.DirItemAt(ranges[k].index), "entry shares bytes with another entry");
    }
  }
}

}  // namespace ziparchive
