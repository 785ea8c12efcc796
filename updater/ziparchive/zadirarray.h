#pragma once
// In-memory directory of an open archive: entry records, their array, and the search result.
#include <cstdint>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "updater/ziparchive/zastreams.h"

namespace ziparchive {

enum TZAProcessOperation : uint8_t {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr, poChangeComment, poMakeSFX
};

inline constexpr size_t kMaxStoredNameLength = 999;

// One extra field as a caller builds it (SetExtraFields).
struct TZAExtraField {
  uint16_t HeaderId = 0;
  uint16_t DataSize = 0;
  std::vector<uint8_t> Data;  // DataSize bytes
};

// One extra field of an entry, read in place; valid until the entry changes.
struct TZAExtraFieldView {
  uint16_t HeaderId = 0;
  uint16_t DataSize = 0;
  std::span<const uint8_t> Data;
};

// The extra fields of an entry, in archive order, over its extra area (whose data sizes are
// all true: see NormalizeExtraArea).
class TZAExtraFieldList {
 public:
  class iterator {
   public:
    using value_type = TZAExtraFieldView;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    explicit iterator(const uint8_t* p) : p_(p) {}
    TZAExtraFieldView operator*() const;
    iterator& operator++();
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const iterator&) const = default;

   private:
    const uint8_t* p_ = nullptr;
  };
  TZAExtraFieldList() = default;
  explicit TZAExtraFieldList(std::string_view area) : area_(area) {}
  iterator begin() const { return iterator(reinterpret_cast<const uint8_t*>(area_.data())); }
  iterator end() const { return iterator(reinterpret_cast<const uint8_t*>(area_.data() + area_.size())); }
  bool empty() const { return area_.empty(); }
  size_t size() const;
  TZAExtraFieldView operator[](size_t index) const;  // walks from the first field

 private:
  std::string_view area_;
};

class TZADirArray;

// What an entry prepared for adding, updating or renaming carries besides its directory
// facts. Only such entries hold one.
struct TDirItemPending {
  std::string OldName;  // name in the backup directory of an entry being renamed
  std::string EntryPassword;
  std::string SourceFileName;
  // Shared by copies; the stream is freed with its last reference when OwnsSourceStream is set.
  std::shared_ptr<TZAStream> SourceStream;
  bool OwnsSourceStream = false;
  int32_t SourcePosition = 0;
};

// The fixed fields of an entry. Signature to LocalHeaderOffset are the central file header
// (DecodeCentralHeader / EncodeCentralHeader of zarecords.h); Operation and Selected fill the
// gap the header leaves.
struct TDirItemFields {
  uint32_t Signature = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModTime = 0;
  uint16_t LastModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t NameLength = 0;
  uint16_t ExtraLength = 0;
  uint16_t CommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  TZAProcessOperation Operation = poAdd;
  bool Selected = false;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;

  bool HasZip64 = false;
  bool Modified = false;
  uint8_t EntryCompressionMode = 0;
  uint32_t Zip64DiskNumberStart = 0;
  int64_t Zip64UncompressedSize = 0;
  int64_t Zip64CompressedSize = 0;
  int64_t Zip64LocalHeaderOffset = 0;
};

// One entry: its fixed fields, then one word for its texts. The name, the extra area and the
// comment of an entry read from an archive sit in the array's text arena; an entry whose texts
// change, or that carries update facts, holds a block of its own instead.
class TDirItem : public TDirItemFields {
 public:
  TDirItem() = default;
  TDirItem(const TDirItem& other);  // deep: the copy owns its texts
  TDirItem& operator=(const TDirItem& other);
  TDirItem(TDirItem&& other) noexcept;
  TDirItem& operator=(TDirItem&& other) noexcept;
  ~TDirItem();

  // Stored name with "/" separators. The views stay valid until the entry changes.
  std::string_view Name() const;
  // Also sets NameLength (0xFFFF for a longer name, which the writer refuses).
  void SetName(std::string_view name);
  std::string_view Comment() const;
  // Also sets CommentLength, likewise.
  void SetComment(std::string_view comment);
  TZAExtraFieldList ExtraFields() const { return TZAExtraFieldList(ExtraArea()); }
  // The extra fields as one area: header id, data size, data, for each field.
  std::string_view ExtraArea() const;
  void SetExtraFields(const std::vector<TZAExtraField>& fields);
  void SetExtraArea(std::string_view area);  // any area: sizes are made true on the way in

  // Update facts; an entry without any reads empty ones.
  const TDirItemPending& Pending() const;
  TDirItemPending& EditPending();
  bool HasPending() const;
  // Attaches a source stream; owned streams are deleted with the last entry that holds them.
  void SetSourceStream(TZAStream* stream, bool owns);

 private:
  friend class TZADirArray;
  struct Owned;
  Owned* owned() const;
  Owned& makeOwned();
  void release();
  // 0: no texts; an even value: a block of the array's arena (three 16-bit lengths, then
  // name, extra area and comment); an odd value: an Owned block of the entry's own, plus 1.
  uintptr_t tail_ = 0;
};
static_assert(sizeof(TDirItem) == sizeof(TDirItemFields) + sizeof(uintptr_t));

// Sizes and offset with the Zip64 value where the 32-bit field is saturated.
int64_t EffectiveCompressedSize(const TDirItem& item);
int64_t EffectiveUncompressedSize(const TDirItem& item);
int64_t EffectiveLocalHeaderOffset(const TDirItem& item);
// A size or offset into its 32-bit field, or the field saturated and the value kept for Zip64
// (always: saturated whatever the value).
void StoreEffective(int64_t value, bool always, uint32_t& field, int64_t& zip64, bool& hasZip64);

// Append-only store of entry texts; blocks never move or change. Two stores may share
// chunks: a chunk lives as long as a store holds it.
class TZATextArena {
 public:
  char* Allocate(size_t size);  // 2-aligned
  void Clear();
  // This store holds every chunk of other too (their blocks stay valid while it does), and
  // allocates from new chunks only.
  void Share(const TZATextArena& other);
  size_t BytesReserved() const { return reserved_; }

 private:
  std::vector<std::shared_ptr<char[]>> chunks_;
  char* next_ = nullptr;
  size_t left_ = 0;
  size_t nextChunk_ = 16 << 10;
  size_t reserved_ = 0;
};

class TZADirArray {
 public:
  TZADirArray() = default;
  ~TZADirArray();
  TZADirArray(const TZADirArray&) = delete;
  TZADirArray& operator=(const TZADirArray&) = delete;

  int DirItemCount() const { return count_; }
  void SetDirItemCount(int count);
  // Copies entry index into item (errors: code 2).
  void GetDirItem(int index, TDirItem& item) const;
  // Entry index becomes a deep copy of item (errors: code 1).
  void PutDirItem(int index, const TDirItem& item);
  // The entry in place, to read (errors: code 3). It stays where it is while the count
  // changes, unless an edit moves it (below).
  const TDirItem& DirItemAt(int index) const;
  // The entry in place, to change (errors: code 3). Costly after a copy of the array
  // (AssignDirItems): the first edit of a shared segment copies its 4,096 entries. Read
  // through DirItemAt.
  TDirItem& EditDirItem(int index);
  // Removes entry index (errors: code 4).
  void DeleteDirItem(int index);
  // Removes the entries of the given indexes (any order, repeats allowed) in one pass; the
  // others keep their order (errors: code 4, before anything is removed).
  void DeleteDirItems(std::vector<int> indexes);
  void ClearDirItems();
  void AssignDirItems(const TZADirArray& other);
  void ClearDirItemSelection();
  // Texts of entry index (errors: code 3), kept in the arena: the readers' way to fill an
  // entry without a block of its own. The header's lengths are left alone.
  void SetDirItemTexts(int index, std::string_view name, std::string_view extraArea, std::string_view comment);

  int Capacity() const { return capacity_; }
  int GrowthStep() const { return growthStep_; }
  static constexpr int kInitialGrowthStep = 500;
  static constexpr int kMaxGrowthStep = 10000;

 private:
  void checkIndex(int index, int32_t code) const;
  // Moves the texts of item (without update facts) into the arena.
  void intern(TDirItem& item, std::string_view name, std::string_view extraArea, std::string_view comment);
  std::string scratch_;  // an extra area being made true

  // The slots, in segments of up to kSegmentSize entries. A copy of the array shares the
  // segments of the original; a segment is copied when either array first changes it. A
  // removal compacts only the segments it touches, which then hold fewer entries. Slots of
  // a segment at or beyond its count are empty.
  static constexpr int kSegmentShift = 12;
  static constexpr int kSegmentSize = 1 << kSegmentShift;
  struct Segment {
    std::shared_ptr<TDirItem[]> items;
    int count = 0;
  };
  struct Place {
    size_t segment;
    int slot;
  };
  Place locate(int index) const;
  int segmentStart(size_t segment) const { return uniform_ ? int(segment << kSegmentShift) : starts_[segment]; }
  void own(size_t segment);  // the segment becomes this array's alone
  void appendSlots(int count);
  void truncate(int count);
  void indexSegments();  // after a removal: where each segment starts
  const TDirItem& slot(int index) const {
    const Place p = locate(index);
    return segments_[p.segment].items[p.slot];
  }
  TDirItem& slot(int index) {
    const Place p = locate(index);
    own(p.segment);
    return segments_[p.segment].items[p.slot];
  }
  std::vector<Segment> segments_;
  std::vector<int> starts_;  // first index of each segment, unless uniform_
  bool uniform_ = true;      // every segment but the last is full
  int capacity_ = 0;
  TZATextArena arena_;
  int count_ = 0;
  int growthStep_ = kInitialGrowthStep;
};

// New local header offsets of the entries that a commit moves without changing them, kept
// beside the directory until the commit ends: setting them in the entries at once would copy
// every segment that the backup directory shares (a 400 MB peak on a million entries).
class TZAMovedOffsets {
 public:
  // Entries from first on, count of them, none moved yet.
  void Reset(int first, int count);
  void Record(int index, int64_t offset);
  // Entry index left the directory: the entries after it move down one place.
  void Erase(int index);
  // The fixed fields of entry index of dir as the directory writes them.
  TDirItemFields Apply(const TZADirArray& dir, int index) const;
  // Every recorded offset goes into its entry of dir (best once dir shares nothing); then none.
  void StoreInto(TZADirArray& dir);

 private:
  int first_ = 0;
  std::vector<int64_t> offsets_;  // by index - first_; -1: not moved
};

struct TInternalSearchRec {
  int32_t ItemIndex = 0;
  std::string FileMask;  // "/" separators; kept whole whatever its length
  bool HasWildcards = false;
  uint32_t Attributes = 0;
  std::string ExclusionMask;
  bool UseMaskProperties = false;
};

struct TZAArchiveItem {
  std::string ItemName;
  std::string StoredPath;
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  double CompressionRate = 0;
  bool Encrypted = false;
  uint16_t LastModFileDate = 0;
  uint16_t LastModFileTime = 0;
  uint32_t CRC = 0;
  uint32_t ExternalFileAttributes = 0;
  std::string Comment;
  TInternalSearchRec InternalSearchRec;
};

// (1 - compressed / uncompressed) * 100; 100 for an empty entry; never below 0.
double CompressionRateFor(int64_t compressedSize, int64_t uncompressedSize);
// Fills the result fields of item from entry (the search record is left alone).
void FillArchiveItem(const TDirItem& entry, TZAArchiveItem& item);

}  // namespace ziparchive
