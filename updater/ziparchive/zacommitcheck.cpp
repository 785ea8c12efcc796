// Before a commit writes anything: every old entry that the new archive keeps must be whole,
// stand on its own bytes and pass its data check; otherwise the commit is refused and the
// archive stays as it is. A damaged archive (cut short, directory rebuilt from its local
// headers, entries sharing bytes, data failing its CRC-32) is never written into. The check
// reads no more than the commit does, except for a directory rebuilt from local headers.
#include <algorithm>
#include <climits>
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
  bool deep = false;  // read in full: local header and data
  int64_t dataStart = 0;
  uint16_t localFlags = 0;
};

// The entry's data decoded and checked against its size and CRC-32 (not for an encrypted
// entry, whose password is not known, nor for a method this engine does not decode).
template <class Refuse>
void verifyData(TZAStream& archive, const TDirItem& e, const KeptRange& r, const Refuse& refuse) {
  const uint16_t method = e.CompressionMethod;
  const int64_t csize = EffectiveCompressedSize(e);
  if (((e.Flags | r.localFlags) & kEncryptedFlag) || (method != kMethodStored && method != kMethodDeflated)) return;
  archive.SetPosition(r.dataStart);
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

}  // namespace

void TZABaseArchiver::CheckKeptEntries() {
  if (spanningMode_ != smNone || FArchiveStream == nullptr) return;
  TZACommitState& st = *FCommit;
  const TZADirArray& backup = FDirManager->BackupDir;
  const TZADirArray& current = FDirManager->CurrentDir;
  const int count = backup.DirItemCount();
  const bool rebuilt = FDirManager->IsRebuilt;
  // A local header the rebuild left out: an entry cut so short that its size ran past the end,
  // which no change of the directory can name.
  if (rebuilt && FDirManager->FirstHeaderLeftOut >= 0) {
    throw EZAException::CreateForCode(35, this).AppendDetail(
        "entry at " + std::to_string(FDirManager->FirstHeaderLeftOut) +
        " cut short, left out of the rebuilt directory; the archive is left unchanged");
  }
  if (count == 0) return;

  // The old entries that the new archive holds: unchanged, renamed or with new attributes or
  // comment. Replaced and removed ones go, whatever their state.
  // Entries in front of the start are unchanged; the others are matched as the commit matches
  // them (name and local header offset), on a copy so that the commit's own matching is untouched.
  std::vector<bool> kept(static_cast<size_t>(count), false);
  for (int j = 0; j < std::min(st.Start, count); ++j) kept[static_cast<size_t>(j)] = true;
  TZANameGroups groups = st.BackupByName;
  for (int i = st.Start; i < current.DirItemCount(); ++i) {
    const TDirItem& item = current.DirItemAt(i);
    const bool replaced = item.Modified && item.Operation != poRename && item.Operation != poChangeComment &&
                          item.Operation != poChangeAttr;
    if (replaced) continue;
    const bool renamed = item.Operation == poRename && !item.Pending().OldName.empty();
    const std::string key(renamed ? std::string_view(item.Pending().OldName) : item.Name());
    const int j = groups.OldEntryOf(backup, key, EffectiveLocalHeaderOffset(item));
    if (j < 0) continue;
    groups.Take(j);
    kept[static_cast<size_t>(j)] = true;
  }

  TZAStream& archive = *FArchiveStream;
  const int64_t limit = std::min(FDirManager->CentralDirOffset, archive.Size());
  auto refuse = [&](int32_t code, const TDirItem& e, const std::string& why) {
    return EZAException::CreateForCode(code, this)
        .AppendDetail("\"" + std::string(e.Name()) + "\": " + why + "; the archive is left unchanged");
  };
  // A directory read from the archive is trusted for the entries that stay in place: their
  // bounds are checked from it alone. Entries of the moved tail (read anyway), the last entry
  // in front of the cut and every entry of a rebuilt directory are read and checked in full.
  int lastInPlace = -1;
  for (int j = 0; j < std::min(st.Start, count); ++j) {
    if (lastInPlace < 0 || EffectiveLocalHeaderOffset(backup.DirItemAt(j)) >
                               EffectiveLocalHeaderOffset(backup.DirItemAt(lastInPlace))) {
      lastInPlace = j;
    }
  }
  // Bounds first, from the directory and the local headers read; then whether entries share
  // bytes, in the order of their offsets; the data last. What the bounds pass learns of an
  // entry's local header is kept in 4 bytes: the header's length and whether it is encrypted.
  constexpr uint32_t kLocalEncrypted = 1u << 31;
  std::vector<uint32_t> local(static_cast<size_t>(count), 0);
  auto rangeOf = [&](int j) {
    const TDirItem& e = backup.DirItemAt(j);
    const int64_t offset = EffectiveLocalHeaderOffset(e);
    KeptRange r{offset, offset + static_cast<int64_t>(kLocalHeaderSize) + EffectiveCompressedSize(e), j};
    r.deep = rebuilt || j >= st.Start;
    const uint32_t info = local[static_cast<size_t>(j)];
    if (info != 0) {
      r.dataStart = offset + (info & ~kLocalEncrypted);
      r.end = r.dataStart + EffectiveCompressedSize(e);
      r.localFlags = (info & kLocalEncrypted) ? kEncryptedFlag : 0;
    }
    return r;
  };
  for (int j = 0; j < count; ++j) {
    if (!kept[static_cast<size_t>(j)]) continue;
    const TDirItem& e = backup.DirItemAt(j);
    const int64_t offset = EffectiveLocalHeaderOffset(e);
    const int64_t csize = EffectiveCompressedSize(e);
    const int64_t usize = EffectiveUncompressedSize(e);
    if (offset < 0 || csize < 0 || offset > limit - static_cast<int64_t>(kLocalHeaderSize) ||
        csize > limit - offset - static_cast<int64_t>(kLocalHeaderSize)) {
      throw refuse(35, e, "entry cut short");
    }
    // No data for a file that has some, or a check of no data that is not 0: an entry whose
    // writing never ended.
    if (csize == 0 && (usize != 0 || e.Crc32 != 0)) throw refuse(8, e, "entry without its data");
    int64_t end = offset + static_cast<int64_t>(kLocalHeaderSize) + csize;
    if (rebuilt || j >= st.Start || j == lastInPlace) {
      uint8_t raw[kLocalHeaderSize];
      archive.SetPosition(offset);
      archive.ReadBuffer(raw, kLocalHeaderSize);
      TZALocalHeader h;
      DecodeLocalHeader(raw, h);
      if (h.Signature != kLocalHeaderSignature) throw refuse(35, e, "no local header where the directory points");
      const int64_t dataStart = offset + static_cast<int64_t>(kLocalHeaderSize) + h.NameLength + h.ExtraLength;
      if (dataStart > limit || csize > limit - dataStart) throw refuse(35, e, "entry cut short");
      end = dataStart + csize;
      local[static_cast<size_t>(j)] =
          static_cast<uint32_t>(dataStart - offset) | ((h.Flags & kEncryptedFlag) ? kLocalEncrypted : 0);
    }
    // Entries in front of the cut stay where they are: nothing new may be written over them.
    if (j < st.Start && end > st.CutPosition) throw refuse(35, e, "entry overlaps the entries after it");
  }
  int64_t reached = INT64_MIN;
  for (int k = 0; k < count; ++k) {
    const int j = st.BackupByName.ByOffset(k);
    if (!kept[static_cast<size_t>(j)]) continue;
    const KeptRange r = rangeOf(j);
    if (r.start < reached) throw refuse(35, backup.DirItemAt(j), "entry shares bytes with another entry");
    reached = std::max(reached, r.end);
  }
  for (int j = 0; j < count; ++j) {
    if (!kept[static_cast<size_t>(j)]) continue;
    const KeptRange r = rangeOf(j);
    if (r.deep) verifyData(archive, backup.DirItemAt(r.index), r, refuse);
  }
}

}  // namespace ziparchive
