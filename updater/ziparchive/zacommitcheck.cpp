// Before a commit writes anything: every old entry that the new archive keeps must be whole,
// stand on its own bytes and pass its data check, and an entry that moves must have a local
// header that describes it as the directory does; otherwise the commit is refused and the
// archive stays as it is. A damaged archive (cut short, directory rebuilt from its local
// headers, entries sharing bytes, data failing its CRC-32, a local header that names or sizes
// the entry otherwise) is never written into. The check reads no more than the commit does,
// except for a directory rebuilt from local headers.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zanames.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

constexpr uint16_t kEncryptedFlag = 0x0001;
// Flags that change how an entry's bytes are read: encryption, strong encryption, descriptor.
constexpr uint16_t kLayoutFlags = 0x0001 | 0x0040 | kDescriptorFlag;

// The first two 8-byte values of the local Zip64 field (id 1) of a local extra area.
std::vector<uint64_t> localZip64Values(std::span<const uint8_t> extra) {
  std::vector<uint64_t> values;
  for (size_t p = 0; extra.size() - p >= 4;) {
    const uint16_t id = GetU16(extra.data() + p), size = GetU16(extra.data() + p + 2);
    const size_t data = std::min<size_t>(size, extra.size() - p - 4);
    if (id == kZip64ExtraId) {
      for (size_t k = 0; k + 8 <= data && values.size() < 2; k += 8) values.push_back(GetU64(extra.data() + p + 4 + k));
      break;
    }
    p += 4 + data;
  }
  return values;
}

// Why the local header of an entry does not describe it as its directory record does, or
// nothing. After a data descriptor (bit 3) the header's CRC-32 and sizes may be 0; a saturated
// size stands in its local Zip64 field, which holds both sizes or only the saturated ones.
std::string localMismatch(const TZALocalHeader& h, std::string_view localName, std::span<const uint8_t> extra,
                          const TDirItem& e, bool oemNames, std::string& decoded) {
  DecodeEntryNameInto(localName, e.Flags, e.VersionMadeBy, oemNames, decoded);
  if (decoded != e.Name()) return "its local header names another entry";
  if (h.CompressionMethod != e.CompressionMethod) return "its local header gives another method";
  if ((h.Flags & kLayoutFlags) != (e.Flags & kLayoutFlags)) return "its local header gives other flags";
  const bool descriptor = (h.Flags & kDescriptorFlag) != 0;
  if (h.Crc32 != e.Crc32 && !(descriptor && h.Crc32 == 0)) return "its local header gives another CRC-32";
  const bool usat = h.UncompressedSize == kSaturated32, csat = h.CompressedSize == kSaturated32;
  const std::vector<uint64_t> zip64 = usat || csat ? localZip64Values(extra) : std::vector<uint64_t>();
  auto fits = [&](uint32_t local, bool saturated, int64_t central, std::initializer_list<size_t> places) {
    if (descriptor && (local == 0 || saturated)) return true;
    if (!saturated) return int64_t(local) == central;
    for (size_t k : places)
      if (k < zip64.size() && zip64[k] == uint64_t(central)) return true;
    return false;
  };
  const bool sizes = fits(h.UncompressedSize, usat, EffectiveUncompressedSize(e), {0}) &&
                     (usat ? fits(h.CompressedSize, csat, EffectiveCompressedSize(e), {1})
                           : fits(h.CompressedSize, csat, EffectiveCompressedSize(e), {0, 1}));
  if (!sizes) return "its local header gives other sizes";
  return {};
}

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
  std::vector<uint8_t> head;  // local header and name of an entry that moves
  std::string decoded;
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
      // The header and, for an entry that moves, its name in one read as a rule.
      const bool moves = rebuilt || j >= st.Start;
      const int64_t wanted = static_cast<int64_t>(kLocalHeaderSize) + (moves ? e.NameLength : 0);
      head.resize(static_cast<size_t>(std::min(wanted, limit - offset)));
      archive.SetPosition(offset);
      archive.ReadBuffer(head.data(), static_cast<int64_t>(head.size()));
      TZALocalHeader h;
      DecodeLocalHeader(head.data(), h);
      if (h.Signature != kLocalHeaderSignature) throw refuse(35, e, "no local header where the directory points");
      const int64_t dataStart = offset + static_cast<int64_t>(kLocalHeaderSize) + h.NameLength + h.ExtraLength;
      if (dataStart > limit || csize > limit - dataStart) throw refuse(35, e, "entry cut short");
      if (moves) {
        // What moves is copied from its local header on, which peers read: it must be this entry's.
        const size_t named = kLocalHeaderSize + h.NameLength;
        const bool saturated = h.CompressedSize == kSaturated32 || h.UncompressedSize == kSaturated32;
        const size_t needed = named + (saturated ? h.ExtraLength : 0);
        if (head.size() < needed) {
          const size_t had = head.size();
          head.resize(needed);
          archive.SetPosition(offset + static_cast<int64_t>(had));
          archive.ReadBuffer(head.data() + had, static_cast<int64_t>(needed - had));
        }
        const std::string why = localMismatch(
            h, std::string_view(reinterpret_cast<const char*>(head.data()) + kLocalHeaderSize, h.NameLength),
            saturated ? std::span<const uint8_t>(head.data() + named, h.ExtraLength) : std::span<const uint8_t>(), e,
            Options.OEMFileNames, decoded);
        if (!why.empty()) throw refuse(35, e, why);
      }
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
