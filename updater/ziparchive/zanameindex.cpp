#include "updater/ziparchive/zanameindex.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "updater/ziparchive/zadirarray.h"

namespace ziparchive {

namespace {

size_t hashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }

// Slots for entries at a load of at most one half: a power of two, at least 16.
size_t slotsFor(size_t entries) {
  size_t n = 16;
  while (n < entries * 2) n *= 2;
  return n;
}

bool holds(const TZADirArray& dir, int32_t index, std::string_view name) {
  return index < dir.DirItemCount() && dir.DirItemAt(index).Name() == name;
}

}  // namespace

size_t TZANameIndex::slotOf(const TZADirArray& dir, std::string_view name) const {
  const size_t mask = slots_.size() - 1;
  for (size_t k = hashOf(name) & mask;; k = (k + 1) & mask)
    if (slots_[k] == kEmpty || (slots_[k] >= 0 && holds(dir, slots_[k], name))) return k;
}

void TZANameIndex::grow(const TZADirArray& dir, size_t entries) {
  if (!slots_.empty() && entries * 2 <= slots_.size()) return;
  std::vector<int32_t> old(slotsFor(entries), kEmpty);
  old.swap(slots_);
  used_ = 0;
  const size_t mask = slots_.size() - 1;
  for (int32_t index : old) {
    if (index < 0 || index >= dir.DirItemCount()) continue;  // renamed away or gone since it was added
    size_t k = hashOf(dir.DirItemAt(index).Name()) & mask;
    while (slots_[k] >= 0) k = (k + 1) & mask;
    slots_[k] = index;
    ++used_;
  }
}

void TZANameIndex::Build(const TZADirArray& dir) {
  Clear();
  const int count = dir.DirItemCount();
  slots_.assign(slotsFor(size_t(count)), kEmpty);
  for (int i = 0; i < count; ++i) Add(dir, i);
}

void TZANameIndex::Add(const TZADirArray& dir, int index) {
  grow(dir, used_ + 1);
  const size_t k = slotOf(dir, dir.DirItemAt(index).Name());
  if (slots_[k] >= 0) {
    if (slots_[k] != index) ++hidden_;
    return;
  }
  slots_[k] = index;
  ++used_;
}

bool TZANameIndex::Rename(const TZADirArray& dir, int index, std::string_view oldName) {
  // With every name on one entry, the entry's slot is the one of its old name, and a name it
  // takes has no other entry left out.
  if (hidden_ > 0 || slots_.empty()) return false;
  const size_t mask = slots_.size() - 1;
  size_t k = hashOf(oldName) & mask;
  while (slots_[k] != kEmpty && slots_[k] != index) k = (k + 1) & mask;
  if (slots_[k] != index) return false;
  slots_[k] = kGone;  // the probe chains that run through the slot stay whole
  grow(dir, used_ + 1);
  const size_t to = slotOf(dir, dir.DirItemAt(index).Name());
  if (slots_[to] >= 0) {
    // Another entry has the name already: the first of the two stands for it.
    slots_[to] = std::min(slots_[to], int32_t(index));
    ++hidden_;
    return true;
  }
  slots_[to] = index;
  ++used_;
  return true;
}

int TZANameIndex::Find(const TZADirArray& dir, std::string_view name) const {
  if (slots_.empty()) return -1;
  return slots_[slotOf(dir, name)];
}

void TZANameIndex::Clear() {
  std::vector<int32_t>().swap(slots_);
  used_ = 0;
  hidden_ = 0;
}

void TZANameGroups::Build(const TZADirArray& dir) {
  count_ = dir.DirItemCount();
  heads_.Clear();
  std::vector<int32_t>().swap(nextSame_);
  named_ = false;
  taken_.assign(size_t(count_), false);
  std::vector<int32_t>().swap(byOffset_);
  auto offsetOf = [&](int32_t j) { return EffectiveLocalHeaderOffset(dir.DirItemAt(j)); };
  // Directories mostly list their entries in file order: nothing to sort then.
  sorted_ = true;
  for (int i = 1; i < count_ && sorted_; ++i) sorted_ = offsetOf(i - 1) <= offsetOf(i);
  if (sorted_) return;
  byOffset_.resize(size_t(count_));
  for (int i = 0; i < count_; ++i) byOffset_[size_t(i)] = i;
  std::stable_sort(byOffset_.begin(), byOffset_.end(), [&](int32_t a, int32_t b) { return offsetOf(a) < offsetOf(b); });
}

void TZANameGroups::indexNames(const TZADirArray& dir) {
  named_ = true;
  heads_.slots_.assign(slotsFor(size_t(count_)), TZANameIndex::kEmpty);
  nextSame_.assign(size_t(count_), -1);
  // From the last entry back, each one goes in front of its name's list.
  for (int i = count_ - 1; i >= 0; --i) {
    const size_t k = heads_.slotOf(dir, dir.DirItemAt(i).Name());
    if (heads_.slots_[k] < 0) ++heads_.used_;
    nextSame_[size_t(i)] = heads_.slots_[k];
    heads_.slots_[k] = i;
  }
}

int TZANameGroups::lowerRank(const TZADirArray& dir, int64_t offset) const {
  int low = 0, high = count_;
  while (low < high) {
    const int mid = low + (high - low) / 2;
    if (EffectiveLocalHeaderOffset(dir.DirItemAt(ByOffset(mid))) < offset) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

int64_t TZANameGroups::NextOffset(const TZADirArray& dir, int64_t offset) const {
  if (offset == INT64_MAX) return -1;
  const int rank = lowerRank(dir, offset + 1);
  return rank < count_ ? EffectiveLocalHeaderOffset(dir.DirItemAt(ByOffset(rank))) : -1;
}

int TZANameGroups::OldEntryOf(const TZADirArray& dir, std::string_view name, int64_t offset) {
  for (int rank = lowerRank(dir, offset); rank < count_; ++rank) {
    const int j = ByOffset(rank);
    const TDirItem& e = dir.DirItemAt(j);
    if (EffectiveLocalHeaderOffset(e) != offset) break;
    if (!taken_[size_t(j)] && e.Name() == name) return j;
  }
  return FirstUntaken(dir, name);
}

int TZANameGroups::FirstUntaken(const TZADirArray& dir, std::string_view name) {
  if (count_ == 0) return -1;
  if (!named_) indexNames(dir);
  int32_t& head = heads_.slots_[heads_.slotOf(dir, name)];
  if (head < 0) return -1;
  // Taken entries at the front are dropped for good: each is passed over once.
  while (taken_[size_t(head)] && nextSame_[size_t(head)] >= 0) head = nextSame_[size_t(head)];
  return taken_[size_t(head)] ? -1 : head;
}

void TZANameGroups::Take(int index) { taken_[size_t(index)] = true; }

}  // namespace ziparchive
