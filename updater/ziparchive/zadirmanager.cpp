#include "updater/ziparchive/zadirmanager.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zanames.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

namespace {

constexpr int64_t kEndWindow = 65600;
constexpr int64_t kLocalScanBlock = 65535;
constexpr int64_t kSignatureScanBlock = 10000;
constexpr uint16_t kMaxRebuildExtra = 260;

[[noreturn]] void invalidArchive() { throw EZAException::CreateForCode(35); }

// Reads count bytes at position and puts the stream position back.
void readAt(TZAStream& s, int64_t position, void* buffer, int64_t count) {
  int64_t saved = s.Position();
  s.SetPosition(position);
  try {
    s.ReadBuffer(buffer, count);
  } catch (...) {
    s.SetPosition(saved);
    throw;
  }
  s.SetPosition(saved);
}

bool hasSignatureAt(TZAStream& s, int64_t position, uint32_t signature) {
  if (position < 0 || s.Size() - position < 4) return false;
  uint8_t b[4];
  readAt(s, position, b, 4);
  return GetU32(b) == signature;
}

void signatureBytes(uint32_t signature, uint8_t out[4]) { PutU32(out, signature); }

// Calls hit(position) at every place in [from, limit) where the signature stands, reading
// each block once, until hit returns true; true when it did.
template <class Hit>
bool scanSignatures(TZAStream& s, int64_t from, int64_t limit, uint32_t signature, Hit hit) {
  constexpr int64_t kBlock = 65536;
  uint8_t sig[4];
  signatureBytes(signature, sig);
  limit = std::min(limit, s.Size());
  std::vector<uint8_t> buf;
  for (int64_t start = std::max<int64_t>(from, 0); limit - start >= 4;) {
    int64_t n = std::min(kBlock, limit - start);
    buf.resize(size_t(n));
    readAt(s, start, buf.data(), n);
    for (int64_t i = 0; i + 4 <= n; ++i)
      if (buf[size_t(i)] == sig[0] && GetU32(&buf[size_t(i)]) == signature && hit(start + i)) return true;
    if (start + n >= limit) break;
    start += n - 3;
  }
  return false;
}

// Bytes of the Zip64 field the writer builds for item (header included), 0 when none.
size_t zip64ExtraSize(const TDirItemFields& item) {
  size_t n = (item.UncompressedSize == kSaturated32 ? 8 : 0) + (item.CompressedSize == kSaturated32 ? 8 : 0) +
             (item.LocalHeaderOffset == kSaturated32 ? 8 : 0) + (item.DiskNumberStart == kSaturated16 ? 4 : 0);
  return n ? n + 4 : 0;
}

}  // namespace

TZADirManager::TZADirManager(TZAStream* stream, TZABaseArchiver* archiver, bool creating)
    : ArchiveStream(stream), IsCustomStream(true), Archiver(archiver) {
  if (archiver) IsCustomStream = stream != archiver->FArchiveStream;
  ResetEndRecord();
  if (creating && archiver) {
    archiver->FVolumeInfo.SetFirstVolume(true);
    if (!archiver->SFXStub.empty()) CopySfxStub();
  }
}

bool TZADirManager::oemFileNames() const { return Archiver ? Archiver->Options.OEMFileNames : true; }
bool TZADirManager::openDamaged() const { return Archiver ? Archiver->FOpenDamaged : true; }
TZASpanningMode TZADirManager::spanningMode() const {
  return Archiver ? Archiver->SpanningMode() : smNone;
}

TZAEndRecord TZADirManager::EndRecordFields() const {
  TZAEndRecord r;
  DecodeEndRecord(EndRecord.data(), r);
  return r;
}
TZAZip64EndRecord TZADirManager::Zip64EndRecordFields() const {
  TZAZip64EndRecord r;
  DecodeZip64EndRecord(Zip64EndRecord.data(), r);
  return r;
}
TZAZip64Locator TZADirManager::Zip64LocatorFields() const {
  TZAZip64Locator r;
  DecodeZip64Locator(Zip64Locator.data(), r);
  return r;
}

void TZADirManager::ResetEndRecord() {
  CurrentDir.SetDirItemCount(0);
  EndRecord.fill(0);
  PutU32(EndRecord.data(), kEndRecordSignature);
}

bool TZADirManager::ProbeEndRecord() {
  int64_t offset = -1;
  bool found = ReadEndOfCentralDir(EndRecord, offset);
  return found || openDamaged();
}

// A record counts only when its directory can stand where it says: inside the file, with a
// central header (or a Zip64 locator) where it starts. A record planted in a comment fails.
bool TZADirManager::consistentEndRecord(int64_t offset, const TZAEndRecord& r) {
  TZAStream& s = *ArchiveStream;
  if (offset >= int64_t(kZip64LocatorSize) &&
      hasSignatureAt(s, offset - int64_t(kZip64LocatorSize), kZip64LocatorSignature))
    return true;
  if (r.ThisVolume != r.DirStartVolume) return true;  // the directory starts on another volume
  if (int64_t(r.DirSize) > offset) return false;
  if (r.TotalEntries == 0) return r.DirSize == 0;
  return hasSignatureAt(s, offset - int64_t(r.DirSize), kCentralHeaderSignature);
}

bool TZADirManager::ReadEndOfCentralDir(std::array<uint8_t, kEndRecordSize>& record, int64_t& offset,
                                        uint32_t signature) {
  offset = -1;
  ArchiveComment.clear();
  record.fill(0);
  TZAStream& s = *ArchiveStream;
  int64_t size = s.Size();
  int64_t window = std::min(size, kEndWindow);
  if (window < int64_t(kEndRecordSize)) return false;
  std::vector<uint8_t> buf(static_cast<size_t>(window));
  readAt(s, size - window, buf.data(), window);
  uint8_t sig[4];
  signatureBytes(signature, sig);
  for (int64_t i = window - int64_t(kEndRecordSize); i >= 0; --i) {
    if (buf[size_t(i)] != sig[0] || GetU32(&buf[size_t(i)]) != signature) continue;
    int64_t commentLength = GetU16(&buf[size_t(i) + 20]);
    if (commentLength != window - i - int64_t(kEndRecordSize)) continue;
    TZAEndRecord r;
    DecodeEndRecord(&buf[size_t(i)], r);
    int64_t at = size - window + i;
    if (!consistentEndRecord(at, r)) continue;
    std::memcpy(record.data(), &buf[size_t(i)], kEndRecordSize);
    ArchiveComment.assign(reinterpret_cast<const char*>(&buf[size_t(i) + kEndRecordSize]),
                          size_t(commentLength));
    offset = at;
    return true;
  }
  return false;
}

bool TZADirManager::FindSignatureInStream(TZAStream& stream, int64_t& position, int length,
                                          const uint8_t* signature) {
  int64_t size = stream.Size();
  int64_t start = std::max<int64_t>(position, 0);
  std::vector<uint8_t> buf(static_cast<size_t>(kSignatureScanBlock));
  while (size - start >= length) {
    int64_t n = std::min(kSignatureScanBlock, size - start);
    readAt(stream, start, buf.data(), n);
    for (int64_t i = 0; i + length <= n; ++i) {
      if (buf[size_t(i)] == signature[0] && std::memcmp(&buf[size_t(i)], signature, size_t(length)) == 0) {
        position = start + i;
        return true;
      }
    }
    if (start + n >= size) break;
    start += n - length + 1;
  }
  return false;
}

int64_t TZADirManager::FindNextLocalHeader(int64_t start) {
  TZAStream& s = *ArchiveStream;
  int64_t size = s.Size();
  uint8_t sig[4];
  signatureBytes(kLocalHeaderSignature, sig);
  if (!keepScanBlock_) scanBlockStart_ = -1;
  start = std::max<int64_t>(start, 0);
  while (size - start >= 4) {
    // The block read last is used again while start lies in it (the rebuild asks for every
    // header in turn).
    int64_t blockEnd = scanBlockStart_ + int64_t(scanBlock_.size());
    if (scanBlockStart_ < 0 || start < scanBlockStart_ || blockEnd - start < 4) {
      int64_t n = std::min(kLocalScanBlock, size - start);
      scanBlock_.resize(size_t(n));
      readAt(s, start, scanBlock_.data(), n);
      scanBlockStart_ = start;
      blockEnd = start + n;
    }
    const uint8_t* b = scanBlock_.data();
    for (int64_t i = start - scanBlockStart_; i + 4 <= int64_t(scanBlock_.size()); ++i) {
      if (b[i] != sig[0] || GetU32(b + i) != kLocalHeaderSignature) continue;
      int64_t hit = scanBlockStart_ + i;
      return size - hit >= int64_t(kLocalHeaderSize) ? hit : -1;
    }
    if (blockEnd >= size) break;
    start = blockEnd - 3;
  }
  return -1;
}

// Bytes at position, from the block the header search holds when they lie in it.
void TZADirManager::readScanned(int64_t position, void* buffer, int64_t count) {
  if (scanBlockStart_ >= 0 && position >= scanBlockStart_ &&
      position - scanBlockStart_ + count <= int64_t(scanBlock_.size())) {
    std::memcpy(buffer, scanBlock_.data() + (position - scanBlockStart_), size_t(count));
    return;
  }
  readAt(*ArchiveStream, position, buffer, count);
}

void TZADirManager::SwitchToVolume(const TZAVolumeNumberInfo& info) {
  if (IsCustomStream || !Archiver) return;
  Archiver->OpenVolume(info);
  ArchiveStream = Archiver->FArchiveStream;
}

void TZADirManager::ReadCentralDir() {
  ResetEndRecord();
  StubSize = 0;
  IsZip64 = false;
  IsRebuilt = false;
  FirstHeaderLeftOut = -1;
  TZAVolumeNumberInfo volume;
  int64_t endOffset = -1;
  if (!ReadEndOfCentralDir(EndRecord, endOffset)) {
    rebuildFromLocalHeaders();
    return;
  }
  TZAStream& s = *ArchiveStream;
  TZAEndRecord end = EndRecordFields();
  int64_t working = endOffset;
  int64_t dirSize = end.DirSize, storedOffset = end.DirOffset, count = end.TotalEntries;
  int32_t firstVolume, lastVolume;

  if (endOffset >= int64_t(kZip64LocatorSize)) {
    readAt(s, endOffset - int64_t(kZip64LocatorSize), Zip64Locator.data(), kZip64LocatorSize);
    IsZip64 = GetU32(Zip64Locator.data()) == kZip64LocatorSignature;
  }
  if (IsZip64) {
    working = endOffset - int64_t(kZip64LocatorSize);
    // The record at the locator's offset, else the one just in front of the locator (an
    // archive moved behind a stub keeps its old offsets).
    TZAZip64Locator loc = Zip64LocatorFields();
    int64_t at = -1;
    for (uint64_t candidate : {loc.Zip64EndOffset, uint64_t(working - int64_t(kZip64EndRecordSize))}) {
      if (candidate <= uint64_t(working) && uint64_t(working) - candidate >= kZip64EndRecordSize &&
          hasSignatureAt(s, int64_t(candidate), kZip64EndRecordSignature)) {
        at = int64_t(candidate);
        break;
      }
    }
    if (at < 0) throw EZAException::CreateForCode(40, Archiver);
    readAt(s, at, Zip64EndRecord.data(), kZip64EndRecordSize);
    TZAZip64EndRecord z = Zip64EndRecordFields();
    working = at;
    if (z.DirSize > uint64_t(INT64_MAX) || z.DirOffset > uint64_t(INT64_MAX) ||
        z.TotalEntries > uint64_t(INT32_MAX) || loc.TotalVolumes == 0 || loc.TotalVolumes > uint32_t(INT32_MAX) ||
        z.DirStartVolume > uint32_t(INT32_MAX))
      invalidArchive();
    dirSize = int64_t(z.DirSize);
    storedOffset = int64_t(z.DirOffset);
    count = int64_t(z.TotalEntries);
    firstVolume = int32_t(z.DirStartVolume);
    lastVolume = int32_t(loc.TotalVolumes - 1);
  } else {
    firstVolume = end.DirStartVolume == kSaturated16 ? 0 : end.DirStartVolume;
    lastVolume = end.ThisVolume == kSaturated16 ? 0 : end.ThisVolume;
  }
  storedDirOffset_ = storedOffset;

  // Geometry first: nothing is allocated for a directory that cannot be there.
  const TZASpanningMode mode = spanningMode();
  if (count > dirSize / int64_t(kCentralHeaderSize) || count > INT32_MAX) invalidArchive();
  if (firstVolume > lastVolume) invalidArchive();
  int64_t start;
  if (mode != smNone) {
    start = storedOffset;
  } else {
    if (dirSize > working) invalidArchive();
    start = working - dirSize;
  }

  volume.LastVolumeNumber = lastVolume;
  volume.SetVolumeNumber(firstVolume);
  if (mode != smNone) {
    SwitchToVolume(volume);
    if (start > ArchiveStream->Size()) invalidArchive();
  }
  CentralDirOffset = start;
  readEntries(start, dirSize, count, volume);

  if (lastVolume == 0) DetectStubSize(working);
}

// The entries are read from the directory in blocks (across volumes when the archive has
// several), so that no more than a block of it is held at a time.
void TZADirManager::readEntries(int64_t start, int64_t size, int64_t count, TZAVolumeNumberInfo& volume) {
  constexpr size_t kBlock = 1 << 20;
  const bool oem = oemFileNames();
  const bool singleFile = spanningMode() == smNone;
  const int64_t fileSize = ArchiveStream->Size();
  CurrentDir.SetDirItemCount(int(count));
  std::vector<uint8_t> buf;
  size_t at = 0;  // unread bytes: buf[at, end)
  int64_t position = start, left = size;
  // n bytes of the directory at the reading place; the directory ends where its size says.
  auto need = [&](size_t n) -> const uint8_t* {
    if (buf.size() - at >= n) return buf.data() + at;
    buf.erase(buf.begin(), buf.begin() + std::ptrdiff_t(at));
    at = 0;
    while (buf.size() < n) {
      if (left <= 0 || position < 0) invalidArchive();
      int64_t available = ArchiveStream->Size() - position;
      if (available <= 0) {
        if (singleFile || volume.VolumeNumber >= volume.LastVolumeNumber) invalidArchive();
        volume.SetVolumeNumber(volume.VolumeNumber + 1);
        SwitchToVolume(volume);
        position = 0;
        continue;
      }
      int64_t k = std::min({left, available, int64_t(std::max(kBlock, n - buf.size()))});
      size_t old = buf.size();
      buf.resize(old + size_t(k));
      readAt(*ArchiveStream, position, buf.data() + old, k);
      position += k;
      left -= k;
    }
    return buf.data() + at;
  };
  std::string name;
  std::vector<uint8_t> area;
  for (int i = 0; i < int(count); ++i) {
    TDirItem& item = CurrentDir.EditDirItem(i);
    DecodeCentralHeader(need(kCentralHeaderSize), item);
    if (item.Signature != kCentralHeaderSignature) invalidArchive();
    at += kCentralHeaderSize;
    const size_t variable = size_t(item.NameLength) + item.ExtraLength + item.CommentLength;
    const uint8_t* v = need(variable);

    std::string_view stored(reinterpret_cast<const char*>(v), item.NameLength);
    DecodeEntryNameInto(stored, item.Flags, item.VersionMadeBy, oem, name);
    item.NameLength = uint16_t(std::min<size_t>(name.size(), kSaturated16));

    area.resize(item.ExtraLength);
    area.resize(NormalizeExtraArea(v + stored.size(), item.ExtraLength, area.data()));
    TZAZip64Values found;
    if (item.ExtraLength > 0) {
      item.HasZip64 = false;
      for (const TZAExtraFieldView field :
           TZAExtraFieldList(std::string_view(reinterpret_cast<const char*>(area.data()), area.size()))) {
        if (field.HeaderId != kZip64ExtraId) continue;
        TZAZip64Values z = ParseZip64Field(field.Data, item.UncompressedSize == kSaturated32,
                                           item.CompressedSize == kSaturated32,
                                           item.LocalHeaderOffset == kSaturated32, item.DiskNumberStart == kSaturated16);
        if ((z.UncompressedSize > uint64_t(INT64_MAX)) ||
            (singleFile && ((z.HasCompressedSize && z.CompressedSize > uint64_t(fileSize)) ||
                            (z.HasLocalHeaderOffset && z.LocalHeaderOffset >= uint64_t(fileSize)))))
          invalidArchive();
        if (z.HasUncompressedSize) item.Zip64UncompressedSize = int64_t(z.UncompressedSize);
        if (z.HasCompressedSize) item.Zip64CompressedSize = int64_t(z.CompressedSize);
        if (z.HasLocalHeaderOffset) item.Zip64LocalHeaderOffset = int64_t(z.LocalHeaderOffset);
        if (z.HasDiskNumberStart) item.Zip64DiskNumberStart = z.DiskNumberStart;
        found.HasUncompressedSize |= z.HasUncompressedSize;
        found.HasCompressedSize |= z.HasCompressedSize;
        found.HasLocalHeaderOffset |= z.HasLocalHeaderOffset;
        found.HasDiskNumberStart |= z.HasDiskNumberStart;
        item.HasZip64 = true;
      }
    }
    // A saturated field without its Zip64 value means what it says.
    if (item.UncompressedSize == kSaturated32 && !found.HasUncompressedSize) item.Zip64UncompressedSize = kSaturated32;
    if (item.CompressedSize == kSaturated32 && !found.HasCompressedSize) item.Zip64CompressedSize = kSaturated32;
    if (item.LocalHeaderOffset == kSaturated32 && !found.HasLocalHeaderOffset)
      item.Zip64LocalHeaderOffset = kSaturated32;
    if (item.DiskNumberStart == kSaturated16 && !found.HasDiskNumberStart) item.Zip64DiskNumberStart = kSaturated16;

    std::string_view comment(reinterpret_cast<const char*>(v) + stored.size() + item.ExtraLength, item.CommentLength);
    CurrentDir.SetDirItemTexts(i, name, std::string_view(reinterpret_cast<const char*>(area.data()), area.size()),
                               comment);
    at += variable;
  }
}

// The local header at position belongs to item: same version, method, time and date, and the
// same CRC and sizes unless they follow in a data descriptor or in a Zip64 field.
bool TZADirManager::localHeaderMatches(int64_t position, const TDirItem& item) {
  TZAStream& s = *ArchiveStream;
  int64_t size = s.Size();
  if (position < 0 || size - position < int64_t(kLocalHeaderSize)) return false;
  uint8_t raw[kLocalHeaderSize];
  readAt(s, position, raw, kLocalHeaderSize);
  TZALocalHeader h;
  DecodeLocalHeader(raw, h);
  if (h.Signature != kLocalHeaderSignature) return false;
  if (size - position - int64_t(kLocalHeaderSize) < h.NameLength) return false;
  if (h.VersionNeeded != item.VersionNeeded || h.CompressionMethod != item.CompressionMethod ||
      h.LastModTime != item.LastModTime || h.LastModDate != item.LastModDate)
    return false;
  if (h.Flags & kDescriptorFlag) return true;
  auto same = [](uint32_t local, uint32_t central) { return local == central || local == kSaturated32; };
  return h.Crc32 == item.Crc32 && same(h.CompressedSize, item.CompressedSize) &&
         same(h.UncompressedSize, item.UncompressedSize);
}

void TZADirManager::shiftOffsets(int64_t delta) {
  for (int i = 0; i < CurrentDir.DirItemCount(); ++i) {
    TDirItem& item = CurrentDir.EditDirItem(i);
    if (item.LocalHeaderOffset == kSaturated32) {
      item.Zip64LocalHeaderOffset += delta;
    } else if (int64_t(item.LocalHeaderOffset) + delta < int64_t(kSaturated32)) {
      item.LocalHeaderOffset = uint32_t(item.LocalHeaderOffset + delta);
    } else {
      item.Zip64LocalHeaderOffset = int64_t(item.LocalHeaderOffset) + delta;
      item.LocalHeaderOffset = kSaturated32;
      item.HasZip64 = true;
    }
  }
}

void TZADirManager::DetectStubSize(int64_t defaultSize) {
  if (CurrentDir.DirItemCount() == 0) {
    StubSize = defaultSize;
    return;
  }
  const TDirItem& first = CurrentDir.DirItemAt(0);
  const int64_t recorded = EffectiveLocalHeaderOffset(first);
  // The usual case: the header is where the directory says.
  if (localHeaderMatches(recorded, first)) {
    StubSize = recorded;
    return;
  }
  // Bytes put in front of the archive move everything by the same amount: the directory's
  // true start less its stored offset.
  int64_t delta = CentralDirOffset - storedDirOffset_;
  int64_t found = -1;
  if (delta > 0 && localHeaderMatches(recorded + delta, first)) {
    found = recorded + delta;
  } else {
    int64_t limit = std::min(CentralDirOffset, recorded + kStubScanLimit);
    scanSignatures(*ArchiveStream, recorded, limit, kLocalHeaderSignature, [&](int64_t position) {
      if (!localHeaderMatches(position, first)) return false;
      found = position;
      return true;
    });
  }
  if (found < 0) return;
  StubSize = found;
  if (found > recorded) shiftOffsets(found - recorded);
}

// A data descriptor closes the data that starts its compressed size in front of it. All of
// them are found in one pass, so each streamed entry finds its own at once.
int64_t TZADirManager::findDataDescriptor(int64_t dataStart, TDirItem& item) {
  TZAStream& s = *ArchiveStream;
  if (!descriptorsIndexed_) {
    descriptorsIndexed_ = true;
    const int64_t size = s.Size();
    scanSignatures(s, 0, size, kDataDescriptorSignature, [&](int64_t position) {
      if (size - position >= int64_t(kDataDescriptorSize)) {
        uint8_t raw[4];
        readScanned(position + 8, raw, 4);
        descriptors_.emplace_back(position - int64_t(GetU32(raw)), position);
      }
      return false;
    });
    std::stable_sort(descriptors_.begin(), descriptors_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  auto it = std::lower_bound(descriptors_.begin(), descriptors_.end(), dataStart,
                             [](const auto& d, int64_t start) { return d.first < start; });
  if (it == descriptors_.end() || it->first != dataStart) return -1;
  uint8_t raw[kDataDescriptorSize];
  readAt(s, it->second, raw, kDataDescriptorSize);
  item.Crc32 = GetU32(raw + 4);
  item.CompressedSize = GetU32(raw + 8);
  item.UncompressedSize = GetU32(raw + 12);
  return it->second;
}

void TZADirManager::rebuildFromLocalHeaders() {
  if (spanningMode() != smNone) throw EZAException::CreateForCode(44, Archiver);
  IsRebuilt = true;
  TZAStream& s = *ArchiveStream;
  const int64_t size = s.Size();
  keepScanBlock_ = true;
  struct Forget {
    TZADirManager& m;
    ~Forget() {
      m.keepScanBlock_ = false;
      m.scanBlockStart_ = -1;
      m.descriptorsIndexed_ = false;
      m.descriptors_.clear();
    }
  } forget{*this};
  int64_t p = FindNextLocalHeader(0);
  if (p < 0) invalidArchive();
  const bool oem = oemFileNames();
  int count = 0;
  std::string stored, name;
  while (p >= 0) {
    int64_t next = p + 4;
    uint8_t raw[kLocalHeaderSize];
    readScanned(p, raw, kLocalHeaderSize);
    TZALocalHeader h;
    DecodeLocalHeader(raw, h);
    if (int64_t(h.CompressedSize) < size && h.ExtraLength <= kMaxRebuildExtra) {
      CurrentDir.SetDirItemCount(count + 1);
      TDirItem& item = CurrentDir.EditDirItem(count++);
      item.Signature = kCentralHeaderSignature;
      item.VersionMadeBy = item.VersionNeeded = h.VersionNeeded;
      item.Flags = h.Flags;
      item.CompressionMethod = h.CompressionMethod;
      item.LastModTime = h.LastModTime;
      item.LastModDate = h.LastModDate;
      item.Crc32 = h.Crc32;
      item.CompressedSize = h.CompressedSize;
      item.UncompressedSize = h.UncompressedSize;
      item.ExtraLength = h.ExtraLength;
      item.LocalHeaderOffset = uint32_t(std::min<int64_t>(p, kSaturated32));
      if (p >= int64_t(kSaturated32)) {
        item.Zip64LocalHeaderOffset = p;
        item.HasZip64 = true;
      }
      int64_t nameStart = p + int64_t(kLocalHeaderSize);
      name.clear();
      if (size - nameStart >= h.NameLength && h.NameLength > 0) {
        stored.resize(h.NameLength);
        readScanned(nameStart, stored.data(), h.NameLength);
        DecodeEntryNameInto(stored, item.Flags, item.VersionMadeBy, oem, name);
      }
      CurrentDir.SetDirItemTexts(count - 1, name, {}, {});
      item.NameLength = uint16_t(std::min<size_t>(name.size(), kSaturated16));
      bool emptyFolder = h.UncompressedSize == 0 && !(h.Flags & kDescriptorFlag) && !name.empty() && name.back() == '/';
      item.ExternalAttributes = emptyFolder ? kFolderAttribute : kArchiveAttribute;

      // Skip what this entry is known to hold, so stored data is not read as entries.
      int64_t dataStart = nameStart + h.NameLength + h.ExtraLength;
      if (h.Flags & kDescriptorFlag) {
        int64_t descriptor = findDataDescriptor(dataStart, item);
        if (descriptor >= 0) next = descriptor + int64_t(kDataDescriptorSize);
      } else if (dataStart + int64_t(h.CompressedSize) <= size) {
        next = std::max(next, dataStart + int64_t(h.CompressedSize));
      }
    } else if (FirstHeaderLeftOut < 0) {
      FirstHeaderLeftOut = p;
    }
    p = FindNextLocalHeader(next);
  }
  CentralDirOffset = size;
}

void TZADirManager::CopySfxStub() {
  TZAFileStream stub(Archiver->SFXStub, fmOpenRead | fmShareDenyNone);
  int64_t stubSize = stub.Size();
  if (spanningMode() != smNone) {
    TZAVolumeNumberInfo first;
    first.SetFirstVolume(true);
    int64_t limit = Archiver->SpanningOptions.VolumeSizeFor(first);
    if (limit != -1 && limit < stubSize) throw EZAException::CreateForCode(47, Archiver);
  }
  ArchiveStream->SetSize(0);
  ArchiveStream->SetPosition(0);
  stub.SetPosition(0);
  if (stubSize > 0) ArchiveStream->CopyFrom(stub, stubSize);
  StubSize = stubSize;
}

// Writes count bytes: across volumes through the component when the archive has them, else
// straight to the stream. Reserve keeps a block whole on one volume (reserve 0), or makes
// sure that many more bytes fit after it.
void TZADirManager::writeBytes(TZAStream*& target, TZAVolumeNumberInfo& volume, const void* data,
                               int64_t count, int64_t reserve, TZAStream* cache) {
  if (count == 0) return;
  if (Archiver && !IsCustomStream && spanningMode() != smNone) {
    Archiver->WriteAcrossVolumesChecked(data, count, target, volume, reserve, cache);
    ArchiveStream = target;
    return;
  }
  if (target->Write(data, count) != count) throw EZAException::CreateForCode(46, Archiver);
}

void TZADirManager::WriteCentralDir(TZAStream* stream, const TZAMovedOffsets* moved) {
  if (stream) {
    ArchiveStream = stream;
  } else if (Archiver && !IsCustomStream) {
    ArchiveStream = Archiver->FArchiveStream;  // volumes may have changed since the open
  }
  const bool volumes = Archiver && !IsCustomStream && spanningMode() != smNone;
  TZAVolumeNumberInfo ownVolume;
  ownVolume.SetFirstVolume(true);
  TZAVolumeNumberInfo& volume = volumes ? Archiver->FVolumeInfo : ownVolume;
  TZAStream* target = ArchiveStream;
  target->Seek(0, soEnd);
  int64_t start = target->Position();
  int64_t startVolume = std::max<int32_t>(volume.VolumeNumber, 0);
  const int count = CurrentDir.DirItemCount();

  // Names, comments and extra areas are never cut: a length that does not fit its field
  // fails the write before the first byte goes out.
  if (ArchiveComment.size() > kSaturated16) throw EZAException::CreateForCode(46, Archiver);
  // The facts of entry i as written: with its new offset when the commit keeps it apart.
  auto headerOf = [&](int i, const TDirItem& item) -> TDirItemFields {
    return moved != nullptr ? moved->Apply(CurrentDir, i) : static_cast<const TDirItemFields&>(item);
  };
  for (int i = 0; i < count; ++i) {
    const TDirItem& item = CurrentDir.DirItemAt(i);
    size_t extra = zip64ExtraSize(headerOf(i, item));
    for (const TZAExtraFieldView f : item.ExtraFields())
      if (f.HeaderId != kZip64ExtraId) extra += 4 + f.Data.size();
    if (item.Name().size() > kSaturated16 || item.Comment().size() > kSaturated16 || extra > kSaturated16)
      throw EZAException::CreateForCode(46, Archiver);
  }
  TZAMemoryStream cacheStream;
  TZAStream* cache = volumes ? &cacheStream : nullptr;
  int64_t dirSize = 0;
  std::vector<uint8_t> block;
  // The records of a single-file archive go out 1 MB at a time; on volumes, each on its own.
  constexpr size_t kBatch = size_t(1) << 20;
  std::vector<uint8_t> batch;
  if (!volumes) batch.reserve(kBatch);
  auto flushBatch = [&] {
    if (batch.empty()) return;
    writeBytes(target, volume, batch.data(), int64_t(batch.size()), 0, cache);
    batch.clear();
  };
  auto put = [&](const void* data, size_t count, int64_t reserve) {
    if (volumes) {
      writeBytes(target, volume, data, int64_t(count), reserve, cache);
      return;
    }
    if (batch.size() + count > kBatch) flushBatch();
    if (count > kBatch) {
      writeBytes(target, volume, data, int64_t(count), reserve, cache);
      return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    batch.insert(batch.end(), bytes, bytes + count);
  };
  for (int i = 0; i < count; ++i) {
    const TDirItem& item = CurrentDir.DirItemAt(i);
    const TDirItemFields fields = headerOf(i, item);
    std::vector<uint8_t> zip64 = BuildZip64Field(
        fields.UncompressedSize == kSaturated32, uint64_t(fields.Zip64UncompressedSize),
        fields.CompressedSize == kSaturated32, uint64_t(fields.Zip64CompressedSize),
        fields.LocalHeaderOffset == kSaturated32, uint64_t(fields.Zip64LocalHeaderOffset),
        fields.DiskNumberStart == kSaturated16, fields.Zip64DiskNumberStart);
    size_t extraLength = zip64.empty() ? 0 : zip64.size() + 4;
    for (const TZAExtraFieldView f : item.ExtraFields())
      if (f.HeaderId != kZip64ExtraId) extraLength += 4 + f.Data.size();

    const std::string_view name = item.Name(), comment = item.Comment();
    TDirItemFields header = fields;
    header.Signature = kCentralHeaderSignature;
    header.Flags = FlagsForStoredName(item.Flags, item.VersionMadeBy, name);
    header.NameLength = uint16_t(name.size());
    header.ExtraLength = uint16_t(extraLength);
    header.CommentLength = uint16_t(comment.size());
    block.assign(kCentralHeaderSize + name.size() + extraLength, 0);
    EncodeCentralHeader(header, block.data());
    uint8_t* p = block.data() + kCentralHeaderSize;
    if (!name.empty()) std::memcpy(p, name.data(), name.size());
    p += name.size();
    if (!zip64.empty()) {
      PutU16(p, kZip64ExtraId);
      PutU16(p + 2, uint16_t(zip64.size()));
      std::memcpy(p + 4, zip64.data(), zip64.size());
      p += 4 + zip64.size();
    }
    for (const TZAExtraFieldView f : item.ExtraFields()) {
      if (f.HeaderId == kZip64ExtraId) continue;
      PutU16(p, f.HeaderId);
      PutU16(p + 2, uint16_t(f.Data.size()));
      if (!f.Data.empty()) std::memcpy(p + 4, f.Data.data(), f.Data.size());
      p += 4 + f.Data.size();
    }
    put(block.data(), block.size(), 0);
    if (i == 0 && volumes) {
      // The first header may have moved on to a new volume: the directory starts there.
      start = target->Size() + cache->Size() - int64_t(block.size());
      startVolume = std::max<int32_t>(volume.VolumeNumber, 0);
    }
    put(comment.data(), comment.size(), -1);
    dirSize += int64_t(block.size() + comment.size());
  }
  flushBatch();

  // The tail goes on one volume: the Zip64 records (when needed), the end record and the
  // archive comment, which has to reach the end of the file.
  const int64_t tailSize = int64_t(kEndRecordSize + ArchiveComment.size());
  auto flushCache = [&] {
    if (!cache || cache->Size() == 0) return;
    cache->SetPosition(0);
    target->Seek(0, soEnd);
    target->CopyFrom(*cache, cache->Size());
    cache->SetSize(0);
  };
  auto currentVolume = [&] { return int64_t(std::max<int32_t>(volume.VolumeNumber, 0)); };
  auto endPosition = [&] { return target->Size() + (cache ? cache->Size() : 0); };
  const bool zip64 = endPosition() >= int64_t(kSaturated32) || count >= int(kSaturated16) ||
                     startVolume >= kSaturated16 || currentVolume() >= kSaturated16;
  if (zip64) {
    TZAZip64EndRecord z;
    z.DirStartVolume = uint32_t(startVolume);
    z.EntriesOnVolume = z.TotalEntries = uint64_t(count);
    z.DirSize = uint64_t(dirSize);
    z.DirOffset = uint64_t(start);
    uint8_t raw[kZip64EndRecordSize];
    // Room for the whole tail is asked for with the record, so it cannot be split.
    EncodeZip64EndRecord(z, raw);
    writeBytes(target, volume, raw, int64_t(kZip64EndRecordSize),
               int64_t(kZip64LocatorSize) + tailSize, cache);
    int64_t recordAt = endPosition() - int64_t(kZip64EndRecordSize);
    z.ThisVolume = uint32_t(currentVolume());
    EncodeZip64EndRecord(z, Zip64EndRecord.data());
    // The number of this volume is only known now; patch it where the record stands.
    flushCache();
    target->SetPosition(recordAt + 16);
    uint8_t thisVolume[4];
    PutU32(thisVolume, z.ThisVolume);
    target->WriteBuffer(thisVolume, 4);
    target->Seek(0, soEnd);

    TZAZip64Locator loc;
    loc.Zip64EndVolume = uint32_t(currentVolume());
    loc.Zip64EndOffset = uint64_t(recordAt);
    loc.TotalVolumes = uint32_t(currentVolume() + 1);
    EncodeZip64Locator(loc, Zip64Locator.data());
    writeBytes(target, volume, Zip64Locator.data(), int64_t(kZip64LocatorSize), tailSize, cache);
    IsZip64 = true;
  } else {
    IsZip64 = false;
  }

  std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
  TZAEndRecord end;
  const int64_t entries = count >= int(kSaturated16) ? kSaturated16 : count;
  end.EntriesOnVolume = end.TotalEntries = uint16_t(entries);
  end.DirSize = uint32_t(std::min<int64_t>(dirSize, kSaturated32));
  end.DirOffset = uint32_t(std::min<int64_t>(start, kSaturated32));
  end.CommentLength = uint16_t(ArchiveComment.size());
  end.DirStartVolume = uint16_t(std::min<int64_t>(startVolume, kSaturated16));
  end.ThisVolume = uint16_t(std::min<int64_t>(currentVolume(), kSaturated16));
  EncodeEndRecord(end, tail.data());
  std::memcpy(tail.data() + kEndRecordSize, ArchiveComment.data(), ArchiveComment.size());
  writeBytes(target, volume, tail.data(), tailSize, 0, cache);
  flushCache();
  if (volumes && end.ThisVolume != uint16_t(std::min<int64_t>(currentVolume(), kSaturated16))) {
    // The tail moved on to a new volume: its number is only known now.
    end.ThisVolume = uint16_t(std::min<int64_t>(currentVolume(), kSaturated16));
    EncodeEndRecord(end, tail.data());
    target->SetPosition(target->Size() - tailSize);
    target->WriteBuffer(tail.data(), int64_t(kEndRecordSize));
    target->Seek(0, soEnd);
  }
  std::memcpy(EndRecord.data(), tail.data(), kEndRecordSize);
  if (!volumes) CentralDirOffset = start;

  if (volumes) {
    Archiver->FinishLastVolume();
    ArchiveStream = Archiver->FArchiveStream;
  }
}

}  // namespace ziparchive
