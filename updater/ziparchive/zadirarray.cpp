#include "updater/ziparchive/zadirarray.h"

#include <algorithm>

#include "updater/ziparchive/zaexcept.h"

namespace ziparchive {

void TDirItem::SetSourceStream(TZAStream* stream, bool owns) {
  OwnsSourceStream = owns && stream != nullptr;
  if (stream == nullptr) {
    SourceStream.reset();
  } else if (owns) {
    SourceStream.reset(stream);
  } else {
    SourceStream = std::shared_ptr<TZAStream>(stream, [](TZAStream*) {});
  }
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

TZADirArray::~TZADirArray() { ClearDirItems(); }

void TZADirArray::checkIndex(int index, int32_t code) const {
  if (index < 0 || index >= count_) throw EZAException::CreateForCode(code);
}

void TZADirArray::SetDirItemCount(int count) {
  if (count < 0) throw EZAException::CreateForCode(1);
  int capacity = Capacity();
  if (count > capacity) {
    growthStep_ = std::min(growthStep_ * 2, kMaxGrowthStep);
    items_.resize(static_cast<size_t>(std::max(capacity + growthStep_, count)));
  } else if (count == 0) {
    std::vector<TDirItem>().swap(items_);
  } else {
    for (int i = count; i < count_; ++i) items_[static_cast<size_t>(i)] = TDirItem{};
  }
  count_ = count;
}

void TZADirArray::GetDirItem(int index, TDirItem& item) const {
  checkIndex(index, 2);
  item = items_[static_cast<size_t>(index)];
}

void TZADirArray::PutDirItem(int index, const TDirItem& item) {
  checkIndex(index, 1);
  items_[static_cast<size_t>(index)] = item;
}

TDirItem& TZADirArray::DirItemAt(int index) {
  checkIndex(index, 3);
  return items_[static_cast<size_t>(index)];
}

const TDirItem& TZADirArray::DirItemAt(int index) const {
  checkIndex(index, 3);
  return items_[static_cast<size_t>(index)];
}

void TZADirArray::DeleteDirItem(int index) {
  checkIndex(index, 4);
  auto at = items_.begin() + index;
  std::move(at + 1, items_.begin() + count_, at);
  items_[static_cast<size_t>(count_ - 1)] = TDirItem{};
  --count_;
}

void TZADirArray::ClearDirItems() {
  for (int i = 0; i < count_; ++i) items_[static_cast<size_t>(i)] = TDirItem{};
  count_ = 0;
}

void TZADirArray::AssignDirItems(const TZADirArray& other) {
  if (&other == this) return;
  ClearDirItems();
  SetDirItemCount(other.count_);
  for (int i = 0; i < other.count_; ++i) items_[static_cast<size_t>(i)] = other.items_[static_cast<size_t>(i)];
}

void TZADirArray::ClearDirItemSelection() {
  for (int i = 0; i < count_; ++i) items_[static_cast<size_t>(i)].Selected = false;
}

double CompressionRateFor(int64_t compressedSize, int64_t uncompressedSize) {
  if (uncompressedSize <= 0) return 100;
  double rate = (1.0 - static_cast<double>(compressedSize) / static_cast<double>(uncompressedSize)) * 100.0;
  return rate < 0 ? 0 : rate;
}

void FillArchiveItem(const TDirItem& entry, TZAArchiveItem& item) {
  std::string name = entry.Name;
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
  item.Comment = entry.Comment;
}

}  // namespace ziparchive
