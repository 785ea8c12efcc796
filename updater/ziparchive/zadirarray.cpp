#include "updater/ziparchive/zadirarray.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zarecords.h"

namespace ziparchive {

struct TDirItem::Owned {
  std::string Name;
  std::string Extra;
  std::string Comment;
  TDirItemPending Pending;
};

namespace {

constexpr size_t kBlockHeader = 6;

struct ArenaTexts {
  std::string_view name, extra, comment;
};

ArenaTexts arenaTexts(uintptr_t tail) {
  const char* b = reinterpret_cast<const char*>(tail);
  const uint8_t* u = reinterpret_cast<const uint8_t*>(b);
  size_t n = GetU16(u), e = GetU16(u + 2), c = GetU16(u + 4);
  b += kBlockHeader;
  return {std::string_view(b, n), std::string_view(b + n, e), std::string_view(b + n + e, c)};
}

uint16_t clamp16(size_t n) { return uint16_t(std::min<size_t>(n, kSaturated16)); }

std::string normalizedArea(std::string_view area) {
  std::string out(area.size(), '\0');
  out.resize(NormalizeExtraArea(reinterpret_cast<const uint8_t*>(area.data()), area.size(),
                                reinterpret_cast<uint8_t*>(out.data())));
  return out;
}

const TDirItemPending kNoPending{};

}  // namespace

TDirItem::Owned* TDirItem::owned() const {
  return (tail_ & 1) ? reinterpret_cast<Owned*>(tail_ - 1) : nullptr;
}

TDirItem::Owned& TDirItem::makeOwned() {
  if (Owned* o = owned()) return *o;
  auto o = std::make_unique<Owned>();
  if (tail_) {
    ArenaTexts t = arenaTexts(tail_);
    o->Name = t.name;
    o->Extra = t.extra;
    o->Comment = t.comment;
  }
  tail_ = reinterpret_cast<uintptr_t>(o.release()) + 1;
  return *owned();
}

void TDirItem::release() {
  delete owned();
  tail_ = 0;
}

TDirItem::TDirItem(const TDirItem& other) { *this = other; }

TDirItem& TDirItem::operator=(const TDirItem& other) {
  if (&other == this) return *this;
  std::unique_ptr<Owned> copy;
  if (Owned* o = other.owned()) {
    copy = std::make_unique<Owned>(*o);
  } else if (other.tail_) {
    ArenaTexts t = arenaTexts(other.tail_);
    copy = std::make_unique<Owned>(Owned{std::string(t.name), std::string(t.extra), std::string(t.comment), {}});
  }
  static_cast<TDirItemFields&>(*this) = other;
  release();
  if (copy) tail_ = reinterpret_cast<uintptr_t>(copy.release()) + 1;
  return *this;
}

TDirItem::TDirItem(TDirItem&& other) noexcept { *this = std::move(other); }

TDirItem& TDirItem::operator=(TDirItem&& other) noexcept {
  if (&other == this) return *this;
  release();
  static_cast<TDirItemFields&>(*this) = other;
  tail_ = other.tail_;
  other.tail_ = 0;
  return *this;
}

TDirItem::~TDirItem() { release(); }

std::string_view TDirItem::Name() const {
  if (Owned* o = owned()) return o->Name;
  return tail_ ? arenaTexts(tail_).name : std::string_view();
}

std::string_view TDirItem::ExtraArea() const {
  if (Owned* o = owned()) return o->Extra;
  return tail_ ? arenaTexts(tail_).extra : std::string_view();
}

std::string_view TDirItem::Comment() const {
  if (Owned* o = owned()) return o->Comment;
  return tail_ ? arenaTexts(tail_).comment : std::string_view();
}

void TDirItem::SetName(std::string_view name) {
  std::string copy(name);  // name may lie in this entry's own block
  makeOwned().Name = std::move(copy);
  NameLength = clamp16(name.size());
}

void TDirItem::SetComment(std::string_view comment) {
  std::string copy(comment);
  makeOwned().Comment = std::move(copy);
  CommentLength = clamp16(comment.size());
}

void TDirItem::SetExtraArea(std::string_view area) {
  std::string copy = normalizedArea(area);
  makeOwned().Extra = std::move(copy);
}

void TDirItem::SetExtraFields(const std::vector<TZAExtraField>& fields) {
  std::string area;
  for (const TZAExtraField& f : fields) {
    const uint16_t size = clamp16(f.Data.size());
    uint8_t head[4];
    PutU16(head, f.HeaderId);
    PutU16(head + 2, size);
    area.append(reinterpret_cast<const char*>(head), 4);
    area.append(reinterpret_cast<const char*>(f.Data.data()), size);
  }
  makeOwned().Extra = std::move(area);
}

const TDirItemPending& TDirItem::Pending() const {
  Owned* o = owned();
  return o ? o->Pending : kNoPending;
}

TDirItemPending& TDirItem::EditPending() { return makeOwned().Pending; }

bool TDirItem::HasPending() const {
  const TDirItemPending& p = Pending();
  return &p != &kNoPending &&
         (!p.OldName.empty() || !p.EntryPassword.empty() || !p.SourceFileName.empty() || p.SourceStream ||
          p.SourcePosition != 0 || p.OwnsSourceStream);
}

void TDirItem::SetSourceStream(TZAStream* stream, bool owns) {
  TDirItemPending& p = EditPending();
  p.OwnsSourceStream = owns && stream != nullptr;
  if (stream == nullptr) {
    p.SourceStream.reset();
  } else if (owns) {
    p.SourceStream.reset(stream);
  } else {
    p.SourceStream = std::shared_ptr<TZAStream>(stream, [](TZAStream*) {});
  }
}

TZAExtraFieldView TZAExtraFieldList::iterator::operator*() const {
  TZAExtraFieldView v;
  v.HeaderId = GetU16(p_);
  v.DataSize = GetU16(p_ + 2);
  v.Data = std::span<const uint8_t>(p_ + 4, v.DataSize);
  return v;
}

TZAExtraFieldList::iterator& TZAExtraFieldList::iterator::operator++() {
  p_ += 4 + GetU16(p_ + 2);
  return *this;
}

size_t TZAExtraFieldList::size() const {
  size_t n = 0;
  for (auto it = begin(); it != end(); ++it) ++n;
  return n;
}

TZAExtraFieldView TZAExtraFieldList::operator[](size_t index) const {
  auto it = begin();
  for (size_t i = 0; i < index && it != end(); ++i) ++it;
  if (it == end()) throw EZAException::CreateForCode(3);
  return *it;
}

int64_t EffectiveCompressedSize(const TDirItem& it) {
  return it.CompressedSize == 0xFFFFFFFFu ? it.Zip64CompressedSize : static_cast<int64_t>(it.CompressedSize);
}

int64_t EffectiveUncompressedSize(const TDirItem& it) {
  return it.UncompressedSize == 0xFFFFFFFFu ? it.Zip64UncompressedSize : static_cast<int64_t>(it.UncompressedSize);
}

int64_t EffectiveLocalHeaderOffset(const TDirItem& it) {
  return it.LocalHeaderOffset == 0xFFFFFFFFu ? it.Zip64LocalHeaderOffset : static_cast<int64_t>(it.LocalHeaderOffset);
}

void StoreEffective(int64_t value, bool always, uint32_t& field, int64_t& zip64, bool& hasZip64) {
  if (always || static_cast<uint64_t>(value) >= kSaturated32) {
    hasZip64 = true;
    field = kSaturated32;
    zip64 = value;
  } else {
    field = static_cast<uint32_t>(value);
  }
}

char* TZATextArena::Allocate(size_t size) {
  size = (size + 1) & ~size_t(1);
  if (size > left_) {
    constexpr size_t kLargestChunk = 1 << 20;
    if (size > kLargestChunk / 4) {
      // A large block gets a chunk of its own; the current one stays in use.
      chunks_.emplace_back(new char[size]);
      reserved_ += size;
      return chunks_.back().get();
    }
    // A new chunk holds at least the block, whatever the size its turn would give it.
    const size_t chunk = std::max(nextChunk_, size);
    chunks_.emplace_back(new char[chunk]);
    next_ = chunks_.back().get();
    left_ = chunk;
    reserved_ += chunk;
    nextChunk_ = std::min(nextChunk_ * 2, kLargestChunk);
  }
  char* p = next_;
  next_ += size;
  left_ -= size;
  return p;
}

void TZATextArena::Share(const TZATextArena& other) {
  if (&other == this) return;
  chunks_.insert(chunks_.end(), other.chunks_.begin(), other.chunks_.end());
  next_ = nullptr;
  left_ = 0;
}

void TZATextArena::Clear() {
  chunks_.clear();
  next_ = nullptr;
  left_ = 0;
  nextChunk_ = 16 << 10;
  reserved_ = 0;
}

TZADirArray::~TZADirArray() { ClearDirItems(); }

void TZADirArray::checkIndex(int index, int32_t code) const {
  if (index < 0 || index >= count_) throw EZAException::CreateForCode(code);
}

TZADirArray::Place TZADirArray::locate(int index) const {
  if (uniform_) return {size_t(index >> kSegmentShift), index & (kSegmentSize - 1)};
  const size_t s = size_t(std::upper_bound(starts_.begin(), starts_.end(), index) - starts_.begin()) - 1;
  return {s, index - starts_[s]};
}

void TZADirArray::own(size_t segment) {
  Segment& seg = segments_[segment];
  if (seg.items.use_count() <= 1) return;
  std::shared_ptr<TDirItem[]> copy(new TDirItem[kSegmentSize]);
  for (int k = 0; k < seg.count; ++k) {
    const TDirItem& from = seg.items[k];
    TDirItem& to = copy[k];
    if (from.tail_ & 1) {
      to = from;  // a block of its own: copied
    } else {
      static_cast<TDirItemFields&>(to) = from;
      to.tail_ = from.tail_;  // in the arena, which both arrays hold
    }
  }
  seg.items = std::move(copy);
}

void TZADirArray::appendSlots(int count) {
  while (count > 0) {
    if (segments_.empty() || segments_.back().count == kSegmentSize) {
      if (!uniform_) starts_.push_back(count_);
      segments_.push_back({std::shared_ptr<TDirItem[]>(new TDirItem[kSegmentSize]), 0});
    }
    own(segments_.size() - 1);
    Segment& last = segments_.back();
    const int n = std::min(count, kSegmentSize - last.count);
    last.count += n;
    count_ += n;
    count -= n;
  }
}

void TZADirArray::truncate(int count) {
  while (count_ > count) {
    const size_t s = segments_.size() - 1;
    const int start = segmentStart(s);
    if (start >= count) {
      count_ = start;
      segments_.pop_back();
      if (!uniform_) starts_.pop_back();
      continue;
    }
    own(s);
    Segment& seg = segments_[s];
    for (int k = count - start; k < seg.count; ++k) seg.items[k] = TDirItem{};
    seg.count = count - start;
    count_ = count;
  }
}

void TZADirArray::indexSegments() {
  segments_.erase(std::remove_if(segments_.begin(), segments_.end(), [](const Segment& s) { return s.count == 0; }),
                  segments_.end());
  uniform_ = true;
  for (size_t s = 0; s + 1 < segments_.size(); ++s) uniform_ = uniform_ && segments_[s].count == kSegmentSize;
  starts_.clear();
  if (uniform_) return;
  int start = 0;
  for (const Segment& seg : segments_) {
    starts_.push_back(start);
    start += seg.count;
  }
}

void TZADirArray::SetDirItemCount(int count) {
  if (count < 0) throw EZAException::CreateForCode(1);
  int capacity = Capacity();
  if (count > capacity) {
    growthStep_ = std::min(growthStep_ * 2, kMaxGrowthStep);
    capacity_ = int(std::min<int64_t>(std::max<int64_t>(int64_t(capacity) + growthStep_, count), INT_MAX));
  }
  if (count == 0) {
    std::vector<Segment>().swap(segments_);
    starts_.clear();
    uniform_ = true;
    count_ = 0;
    capacity_ = 0;
    arena_.Clear();
  } else if (count > count_) {
    appendSlots(count - count_);
  } else {
    truncate(count);
  }
}

void TZADirArray::GetDirItem(int index, TDirItem& item) const {
  checkIndex(index, 2);
  item = slot(index);
}

void TZADirArray::intern(TDirItem& item, std::string_view name, std::string_view extraArea,
                         std::string_view comment) {
  item.release();
  if (name.empty() && extraArea.empty() && comment.empty()) return;
  if (name.size() > kSaturated16 || extraArea.size() > kSaturated16 || comment.size() > kSaturated16) {
    // Too long for a block: kept apart (the writer refuses such an entry anyway).
    TDirItem::Owned& o = item.makeOwned();
    o.Name = name;
    o.Extra = extraArea;
    o.Comment = comment;
    return;
  }
  char* b = arena_.Allocate(kBlockHeader + name.size() + extraArea.size() + comment.size());
  uint8_t* u = reinterpret_cast<uint8_t*>(b);
  PutU16(u, uint16_t(name.size()));
  PutU16(u + 2, uint16_t(extraArea.size()));
  PutU16(u + 4, uint16_t(comment.size()));
  char* p = b + kBlockHeader;
  if (!name.empty()) std::memcpy(p, name.data(), name.size());
  p += name.size();
  if (!extraArea.empty()) std::memcpy(p, extraArea.data(), extraArea.size());
  p += extraArea.size();
  if (!comment.empty()) std::memcpy(p, comment.data(), comment.size());
  item.tail_ = reinterpret_cast<uintptr_t>(b);
}

void TZADirArray::SetDirItemTexts(int index, std::string_view name, std::string_view extraArea,
                                  std::string_view comment) {
  checkIndex(index, 3);
  TDirItem& item = slot(index);
  if (item.HasPending()) {
    TDirItem::Owned& o = item.makeOwned();
    o.Name = name;
    o.Extra = normalizedArea(extraArea);
    o.Comment = comment;
    return;
  }
  scratch_.resize(extraArea.size());
  scratch_.resize(NormalizeExtraArea(reinterpret_cast<const uint8_t*>(extraArea.data()), extraArea.size(),
                                     reinterpret_cast<uint8_t*>(scratch_.data())));
  intern(item, name, scratch_, comment);
}

void TZADirArray::PutDirItem(int index, const TDirItem& item) {
  checkIndex(index, 1);
  // When slot() copies a shared segment, the other array keeps the old one: item stays valid.
  TDirItem& target = slot(index);
  if (&target == &item) return;
  if (item.HasPending()) {
    target = item;
    return;
  }
  static_cast<TDirItemFields&>(target) = item;
  intern(target, item.Name(), item.ExtraArea(), item.Comment());
}

TDirItem& TZADirArray::EditDirItem(int index) {
  checkIndex(index, 3);
  return slot(index);
}

const TDirItem& TZADirArray::DirItemAt(int index) const {
  checkIndex(index, 3);
  return slot(index);
}

void TZADirArray::DeleteDirItem(int index) { DeleteDirItems({index}); }

void TZADirArray::DeleteDirItems(std::vector<int> indexes) {
  for (int index : indexes) checkIndex(index, 4);
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  if (indexes.empty()) return;
  // Each segment that holds a removed entry is compacted on its own; the others stay as they are.
  size_t next = 0;  // the next index to remove
  while (next < indexes.size()) {
    const Place p = locate(indexes[next]);
    own(p.segment);
    Segment& seg = segments_[p.segment];
    const int start = segmentStart(p.segment);
    int kept = p.slot;
    for (int k = p.slot; k < seg.count; ++k) {
      if (next < indexes.size() && indexes[next] == start + k) {
        ++next;
        seg.items[k] = TDirItem{};  // frees what the entry owns
        continue;
      }
      if (kept != k) seg.items[kept] = std::move(seg.items[k]);
      ++kept;
    }
    for (int k = kept; k < seg.count; ++k) seg.items[k] = TDirItem{};
    seg.count = kept;
  }
  count_ -= int(indexes.size());
  indexSegments();
}

void TZADirArray::ClearDirItems() {
  std::vector<Segment>().swap(segments_);
  starts_.clear();
  uniform_ = true;
  count_ = 0;
  arena_.Clear();
}

void TZADirArray::AssignDirItems(const TZADirArray& other) {
  if (&other == this) return;
  ClearDirItems();
  // The entries are shared until either array changes them; texts in the other's arena are
  // shared too: they never change there.
  segments_ = other.segments_;
  starts_ = other.starts_;
  uniform_ = other.uniform_;
  count_ = other.count_;
  capacity_ = std::max(capacity_, count_);
  arena_.Share(other.arena_);
}

void TZADirArray::ClearDirItemSelection() {
  for (size_t s = 0; s < segments_.size(); ++s) {
    const Segment& seg = segments_[s];
    bool any = false;
    for (int k = 0; k < seg.count && !any; ++k) any = seg.items[k].Selected;
    if (!any) continue;
    own(s);
    for (int k = 0; k < segments_[s].count; ++k) segments_[s].items[k].Selected = false;
  }
}

void TZAMovedOffsets::Reset(int first, int count) {
  first_ = first;
  offsets_.assign(size_t(std::max(count, 0)), -1);
}

void TZAMovedOffsets::Record(int index, int64_t offset) {
  const int64_t k = int64_t(index) - first_;
  if (k < 0 || uint64_t(k) >= offsets_.size()) throw EZAException::CreateForCode(3);
  offsets_[size_t(k)] = offset;
}

void TZAMovedOffsets::Erase(int index) {
  const int64_t k = int64_t(index) - first_;
  if (k >= 0 && uint64_t(k) < offsets_.size()) offsets_.erase(offsets_.begin() + k);
}

TDirItemFields TZAMovedOffsets::Apply(const TZADirArray& dir, int index) const {
  TDirItemFields fields = dir.DirItemAt(index);
  const int64_t k = int64_t(index) - first_;
  if (k >= 0 && uint64_t(k) < offsets_.size() && offsets_[size_t(k)] >= 0) {
    StoreEffective(offsets_[size_t(k)], false, fields.LocalHeaderOffset, fields.Zip64LocalHeaderOffset,
                   fields.HasZip64);
  }
  return fields;
}

void TZAMovedOffsets::StoreInto(TZADirArray& dir) {
  for (size_t k = 0; k < offsets_.size(); ++k) {
    if (offsets_[k] < 0) continue;
    TDirItem& item = dir.EditDirItem(first_ + int(k));
    StoreEffective(offsets_[k], false, item.LocalHeaderOffset, item.Zip64LocalHeaderOffset, item.HasZip64);
  }
  std::vector<int64_t>().swap(offsets_);
}

double CompressionRateFor(int64_t compressedSize, int64_t uncompressedSize) {
  if (uncompressedSize <= 0) return 100;
  double rate = (1.0 - static_cast<double>(compressedSize) / static_cast<double>(uncompressedSize)) * 100.0;
  return rate < 0 ? 0 : rate;
}

void FillArchiveItem(const TDirItem& entry, TZAArchiveItem& item) {
  std::string name(entry.Name());
  std::replace(name.begin(), name.end(), '/', '\\');
  if (!name.empty() && name.back() == '\\') name.pop_back();
  size_t cut = name.find_last_of('\\');
  item.StoredPath = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
  item.ItemName = cut == std::string::npos ? name : name.substr(cut + 1);
  item.CompressedSize = EffectiveCompressedSize(entry);
  item.UncompressedSize = EffectiveUncompressedSize(entry);
  item.CompressionRate = CompressionRateFor(item.CompressedSize, item.UncompressedSize);
  item.Encrypted = (entry.Flags & 1) != 0;
  item.LastModFileDate = entry.LastModDate;
  item.LastModFileTime = entry.LastModTime;
  item.CRC = entry.Crc32;
  item.ExternalFileAttributes = entry.ExternalAttributes;
  item.Comment = entry.Comment();
}

}  // namespace ziparchive
