#pragma once
// Entry names of a directory array found in constant time. The tables hold entry indexes
// only (a few bytes an entry); the names are read from the array itself.
#include <cstdint>
#include <string_view>
#include <vector>

namespace ziparchive {

class TZADirArray;

// Name -> the first entry of that name. An index whose entry has gone or changed its name
// since it was added is passed over, never returned.
class TZANameIndex {
 public:
  // Every entry of dir.
  void Build(const TZADirArray& dir);
  // Entry index of dir joins unless an entry of the same name is found already.
  void Add(const TZADirArray& dir, int index);
  // Index of the first entry named name, or -1.
  int Find(const TZADirArray& dir, std::string_view name) const;
  // Entry index of dir, called oldName until now, has its new name: the index follows in
  // place. False when it cannot (names given to more than one entry): then Build again.
  bool Rename(const TZADirArray& dir, int index, std::string_view oldName);
  void Clear();

 private:
  friend class TZANameGroups;
  static constexpr int32_t kEmpty = -1;
  static constexpr int32_t kGone = -2;  // an entry renamed away: looked past, never returned
  // Slot of name: the one that holds it, else the empty one where it would go.
  size_t slotOf(const TZADirArray& dir, std::string_view name) const;
  void grow(const TZADirArray& dir, size_t entries);
  std::vector<int32_t> slots_;  // entry indexes, kEmpty or kGone
  size_t used_ = 0;             // slots not empty
  size_t hidden_ = 0;           // entries left out: an entry before them has their name
};

// The entries of a directory array by name, to take one at a time: each name hands out its
// entries in index order, each entry once. A directory in file order costs a bit an entry;
// names are indexed on the first look-up that needs them.
class TZANameGroups {
 public:
  void Build(const TZADirArray& dir);
  // The first entry named name not taken yet, or -1.
  int FirstUntaken(const TZADirArray& dir, std::string_view name);
  // The entry named name whose local header stands at offset when it is not taken yet (the
  // same entry, among several of its name), else FirstUntaken.
  int OldEntryOf(const TZADirArray& dir, std::string_view name, int64_t offset);
  void Take(int index);
  // The entry of rank k in the order of local header offsets.
  int ByOffset(int k) const { return sorted_ ? k : byOffset_[size_t(k)]; }
  // The smallest local header offset above offset, or -1.
  int64_t NextOffset(const TZADirArray& dir, int64_t offset) const;

 private:
  // Rank of the first entry whose local header offset is not below offset.
  int lowerRank(const TZADirArray& dir, int64_t offset) const;
  void indexNames(const TZADirArray& dir);
  int count_ = 0;
  bool sorted_ = true;             // entries listed in file order: byOffset_ stays empty
  std::vector<int32_t> byOffset_;  // entries in the order of their local header offsets
  bool named_ = false;
  TZANameIndex heads_;             // name -> first entry of the name not known to be taken
  std::vector<int32_t> nextSame_;  // entry -> next entry of the same name, -1 at the last
  std::vector<bool> taken_;
};

}  // namespace ziparchive
