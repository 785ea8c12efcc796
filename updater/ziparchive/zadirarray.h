#pragma once
// In-memory directory of an open archive: entry records, their array, and the search result.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "updater/ziparchive/zastreams.h"

namespace ziparchive {

enum TZAProcessOperation : uint8_t {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr, poChangeComment, poMakeSFX
};

inline constexpr size_t kMaxStoredNameLength = 999;

struct TZAExtraField {
  uint16_t HeaderId = 0;
  uint16_t DataSize = 0;
  std::vector<uint8_t> Data;  // DataSize bytes, owned by the entry
};

// One entry. The fields up to LocalHeaderOffset are the central file header, in order
// (DecodeCentralHeader / EncodeCentralHeader of zarecords.h).
struct TDirItem {
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
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;

  std::string Name;
  std::string OldName;
  std::string Comment;
  std::vector<TZAExtraField> ExtraFields;
  bool HasZip64 = false;
  int64_t Zip64UncompressedSize = 0;
  int64_t Zip64CompressedSize = 0;
  int64_t Zip64LocalHeaderOffset = 0;
  uint32_t Zip64DiskNumberStart = 0;
  bool Modified = false;
  std::string EntryPassword;
  // Shared by copies; the stream is freed with its last reference when OwnsSourceStream is set.
  std::shared_ptr<TZAStream> SourceStream;
  bool OwnsSourceStream = false;
  int32_t SourcePosition = 0;
  bool Selected = false;
  std::string SourceFileName;
  uint8_t EntryCompressionMode = 0;
  TZAProcessOperation Operation = poAdd;

  // Attaches a source stream; owned streams are deleted with the last entry that holds them.
  void SetSourceStream(TZAStream* stream, bool owns);
};

// Sizes and offset with the Zip64 value where the 32-bit field is saturated.
int64_t EffectiveCompressedSize(const TDirItem& item);
int64_t EffectiveUncompressedSize(const TDirItem& item);
int64_t EffectiveLocalHeaderOffset(const TDirItem& item);

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
  // The entry in place (errors: code 3); valid until the count next grows.
  TDirItem& DirItemAt(int index);
  const TDirItem& DirItemAt(int index) const;
  // Removes entry index (errors: code 4).
  void DeleteDirItem(int index);
  void ClearDirItems();
  void AssignDirItems(const TZADirArray& other);
  void ClearDirItemSelection();

  int Capacity() const { return static_cast<int>(items_.size()); }
  int GrowthStep() const { return growthStep_; }
  static constexpr int kInitialGrowthStep = 500;
  static constexpr int kMaxGrowthStep = 10000;

 private:
  void checkIndex(int index, int32_t code) const;

  std::vector<TDirItem> items_;  // the capacity; slots at or beyond count_ are empty
  int count_ = 0;
  int growthStep_ = kInitialGrowthStep;
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
