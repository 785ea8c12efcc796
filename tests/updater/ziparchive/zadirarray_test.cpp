#include "updater/ziparchive/zadirarray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "updater/ziparchive/zaexcept.h"

using namespace ziparchive;

namespace {

TDirItem itemWithExtra(const std::string& name, uint8_t fill) {
  TDirItem it;
  it.SetName(name);
  TZAExtraField f;
  f.HeaderId = 0x5455;
  f.DataSize = 3;
  f.Data = {fill, fill, fill};
  it.SetExtraFields({f});
  return it;
}

std::vector<uint8_t> firstExtra(const TDirItem& it) {
  const TZAExtraFieldView f = it.ExtraFields()[0];
  return {f.Data.begin(), f.Data.end()};
}

// Counts destructions so that ownership can be checked.
struct CountingStream : TZAMemoryStream {
  explicit CountingStream(int& deaths) : deaths_(deaths) {}
  ~CountingStream() override { ++deaths_; }
  int& deaths_;
};

}  // namespace

TEST(TZADirArray, GrowsGeometricallyAndReleasesAtZero) {
  TZADirArray a;
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.GrowthStep(), 500);
  struct Step {
    int count;
    int capacity;
  } steps[] = {{1, 1000}, {1000, 1000}, {1001, 3000}, {3001, 7000}, {7001, 15000}, {15001, 25000},
               {25001, 35000}, {10, 35000}, {60000, 60000}};
  const TDirItem* first = nullptr;
  for (const auto& s : steps) {
    a.SetDirItemCount(s.count);
    EXPECT_EQ(a.DirItemCount(), s.count);
    EXPECT_EQ(a.Capacity(), s.capacity) << "count " << s.count;
    // Entries stay where they are while the array grows or shrinks.
    if (!first) first = &a.DirItemAt(0);
    EXPECT_EQ(&a.DirItemAt(0), first) << "count " << s.count;
  }
  a.SetDirItemCount(0);
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.GrowthStep(), 10000);
  a.SetDirItemCount(1);
  EXPECT_EQ(a.Capacity(), 10000);
}

TEST(TZADirArray, IndexErrorsCarryTheirCodes) {
  TZADirArray a;
  a.SetDirItemCount(2);
  TDirItem it;
  struct Case {
    const char* op;
    int index;
    int code;
  } cases[] = {{"put", -1, 1}, {"put", 2, 1}, {"get", -1, 2}, {"get", 2, 2},
               {"at", -1, 3},  {"at", 2, 3},  {"delete", -1, 4}, {"delete", 2, 4}};
  for (const auto& c : cases) {
    std::string op = c.op;
    try {
      if (op == "put") a.PutDirItem(c.index, it);
      if (op == "get") a.GetDirItem(c.index, it);
      if (op == "at") a.DirItemAt(c.index);
      if (op == "delete") a.DeleteDirItem(c.index);
      ADD_FAILURE() << op << " " << c.index << " did not raise";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, c.code) << op;
      EXPECT_EQ(e.ErrorCode, 1);
      EXPECT_STREQ(e.what(), ("Index out of bounds - Native error: 0000" + std::to_string(c.code)).c_str());
    }
  }
  EXPECT_THROW(a.SetDirItemCount(-1), EZAException);
  EXPECT_EQ(a.DirItemCount(), 2);
}

TEST(TZADirArray, CopiesAreDeepAndDeleteKeepsEachEntrysExtras) {
  TZADirArray a;
  a.SetDirItemCount(2);
  {
    TDirItem source = itemWithExtra("one", 1);
    a.PutDirItem(0, source);
    source.SetExtraFields({});  // the caller's record changes, the entry does not
    source.SetName("other");
  }
  a.PutDirItem(1, itemWithExtra("two", 2));
  EXPECT_EQ(firstExtra(a.DirItemAt(0)), (std::vector<uint8_t>{1, 1, 1}));
  EXPECT_EQ(a.DirItemAt(0).Name(), "one");

  TZADirArray b;
  b.AssignDirItems(a);
  b.EditDirItem(1).SetExtraFields({});
  b.EditDirItem(1).SetName("changed");
  EXPECT_EQ(firstExtra(a.DirItemAt(1)), (std::vector<uint8_t>{2, 2, 2}));
  EXPECT_EQ(a.DirItemAt(1).Name(), "two");

  TDirItem copy;
  a.GetDirItem(1, copy);
  a.ClearDirItems();  // a copy outlives the array it came from
  EXPECT_EQ(copy.Name(), "two");
  EXPECT_EQ(firstExtra(copy), (std::vector<uint8_t>{2, 2, 2}));

  a.SetDirItemCount(2);
  a.PutDirItem(0, itemWithExtra("one", 1));
  a.PutDirItem(1, copy);
  a.DeleteDirItem(0);
  ASSERT_EQ(a.DirItemCount(), 1);
  EXPECT_EQ(a.DirItemAt(0).Name(), "two");
  EXPECT_EQ(firstExtra(a.DirItemAt(0)), (std::vector<uint8_t>{2, 2, 2}));

  // Growing again after a delete or a shrink yields empty entries.
  b.SetDirItemCount(1);
  b.SetDirItemCount(2);
  EXPECT_TRUE(b.DirItemAt(1).Name().empty());
  EXPECT_TRUE(b.DirItemAt(1).ExtraFields().empty());
  b.EditDirItem(0).Selected = true;
  b.ClearDirItemSelection();
  EXPECT_FALSE(b.DirItemAt(0).Selected);
}

TEST(TZADirArray, OwnedSourceStreamsAreFreedOnceByWhateverRemovesTheLastHolder) {
  int deaths = 0;
  {
    TZADirArray a;
    a.SetDirItemCount(3);
    TDirItem owned;
    owned.SetSourceStream(new CountingStream(deaths), true);
    a.PutDirItem(0, owned);
    owned = TDirItem{};
    a.DeleteDirItem(0);
    EXPECT_EQ(deaths, 1);

    TDirItem replaced;
    replaced.SetSourceStream(new CountingStream(deaths), true);
    a.PutDirItem(0, replaced);
    replaced = TDirItem{};
    a.PutDirItem(0, TDirItem{});  // replacing frees what was there
    EXPECT_EQ(deaths, 2);

    TDirItem kept;
    kept.SetSourceStream(new CountingStream(deaths), true);
    a.PutDirItem(1, kept);
    kept = TDirItem{};
    TZADirArray backup;
    backup.AssignDirItems(a);
    a.ClearDirItems();
    EXPECT_EQ(deaths, 2);  // the backup still holds it
  }
  EXPECT_EQ(deaths, 3);

  CountingStream borrowed(deaths);
  {
    TDirItem it;
    it.SetSourceStream(&borrowed, false);
    TZADirArray a;
    a.SetDirItemCount(1);
    a.PutDirItem(0, it);
  }
  EXPECT_EQ(deaths, 3);  // a stream the entry does not own is never freed by it
}

TEST(TZAArchiveItem, FillSplitsTheNameAndRatesTheCompression) {
  struct Case {
    const char* name;
    uint32_t compressed, uncompressed;
    int64_t zip64Compressed, zip64Uncompressed;
    const char* itemName;
    const char* storedPath;
    double rate;
  } cases[] = {
      {"dir/sub/a.txt", 25, 100, 0, 0, "a.txt", "dir\\sub\\", 75},
      {"dir/", 0, 0, 0, 0, "dir", "", 100},
      {"top.bin", 110, 100, 0, 0, "top.bin", "", 0},  // a stored entry that grew
      {"big", 0xFFFFFFFF, 0xFFFFFFFF, int64_t(1) << 32, int64_t(1) << 33, "big", "", 50},
  };
  for (const auto& c : cases) {
    TDirItem e;
    e.SetName(c.name);
    e.CompressedSize = c.compressed;
    e.UncompressedSize = c.uncompressed;
    e.Zip64CompressedSize = c.zip64Compressed;
    e.Zip64UncompressedSize = c.zip64Uncompressed;
    e.Flags = 1;
    e.Crc32 = 0xCAFEBABE;
    TZAArchiveItem item;
    FillArchiveItem(e, item);
    EXPECT_EQ(item.ItemName, c.itemName);
    EXPECT_EQ(item.StoredPath, c.storedPath);
    EXPECT_DOUBLE_EQ(item.CompressionRate, c.rate) << c.name;
    EXPECT_TRUE(item.Encrypted);
    EXPECT_EQ(item.CRC, 0xCAFEBABE);
    EXPECT_EQ(item.CompressedSize, EffectiveCompressedSize(e));
  }
}

// Every block the text store hands out is as long as asked, whatever is left of the chunk in
// use and whatever size the next chunk would have; no block overlaps another.
TEST(TZATextArena, BlocksOfAnySizeAreWholeAndApart) {
  TZATextArena arena;
  const std::vector<size_t> sizes = {1,     16384, 16385, 7,      32768, 100000, 196611, 3,
                                     65536, 262143, 262145, 20000, 1 << 20, 5,     131072, 0};
  std::vector<std::pair<char*, size_t>> blocks;
  for (size_t i = 0; i < sizes.size(); ++i) {
    char* b = arena.Allocate(sizes[i]);
    std::memset(b, int('a' + i), sizes[i]);
    blocks.emplace_back(b, sizes[i]);
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    const auto [b, n] = blocks[i];
    EXPECT_EQ(std::string(b, n), std::string(n, char('a' + i))) << "block " << i << " of " << n << " bytes";
  }
  size_t total = 0;
  for (size_t n : sizes) total += n;
  EXPECT_GE(arena.BytesReserved(), total);
}

// A copy shares the texts of the array it copies: each side keeps its own whatever the other
// does after (emptied, refilled, renamed), and copying back and forth loses nothing.
TEST(TZADirArray, ACopyKeepsItsTextsWhateverTheOriginalDoes) {
  TZADirArray current, backup;
  const int n = 3000;  // several chunks of the text store
  auto nameOf = [](const char* prefix, int i) { return std::string(prefix) + std::to_string(i) + std::string(i % 50, 'x'); };
  current.SetDirItemCount(n);
  for (int i = 0; i < n; ++i) current.SetDirItemTexts(i, nameOf("old", i), {}, i % 7 ? "" : "comment");
  current.EditDirItem(5).SetComment("own");  // a text of the entry's own
  backup.AssignDirItems(current);
  current.EditDirItem(1).SetName("renamed");
  current.SetDirItemCount(0);
  current.SetDirItemCount(n);
  for (int i = 0; i < n; ++i) current.SetDirItemTexts(i, nameOf("new", i), {}, {});
  auto check = [&](const TZADirArray& dir, const char* what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(dir.DirItemCount(), n);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(dir.DirItemAt(i).Name(), nameOf("old", i));
      ASSERT_EQ(dir.DirItemAt(i).Comment(), i == 5 ? "own" : i % 7 ? "" : "comment");
    }
  };
  check(backup, "backup after the original changed");
  current.AssignDirItems(backup);
  backup.SetDirItemCount(0);
  check(current, "restored, backup emptied");
  current.EditDirItem(2).SetName("changed");
  backup.AssignDirItems(current);
  current.SetDirItemCount(0);
  EXPECT_EQ(backup.DirItemAt(2).Name(), "changed");
  EXPECT_EQ(backup.DirItemAt(3).Name(), nameOf("old", 3));
}

// Removing many entries at once keeps the others in order with their own texts; a bad
// index removes nothing.
TEST(TZADirArray, ManyEntriesGoInOnePass) {
  struct Case {
    std::vector<int> removed;
    std::string left;  // names of the entries left
  };
  const std::vector<Case> cases = {{{}, "abcdef"},      {{0}, "bcdef"},          {{5}, "abcde"},
                                   {{4, 1, 4, 2}, "adf"}, {{0, 1, 2, 3, 4, 5}, ""}, {{5, 0}, "bcde"}};
  for (const Case& c : cases) {
    TZADirArray a;
    a.SetDirItemCount(6);
    for (int i = 0; i < 6; ++i) a.SetDirItemTexts(i, std::string(1, char('a' + i)), {}, "c");
    a.EditDirItem(3).SetComment("own");
    a.DeleteDirItems(c.removed);
    std::string left;
    for (int i = 0; i < a.DirItemCount(); ++i) {
      left += a.DirItemAt(i).Name();
      EXPECT_EQ(a.DirItemAt(i).Comment(), a.DirItemAt(i).Name() == "d" ? "own" : "c");
    }
    EXPECT_EQ(left, c.left);
  }
  TZADirArray a;
  a.SetDirItemCount(3);
  for (int bad : {-1, 3}) {
    try {
      a.DeleteDirItems({0, bad});
      ADD_FAILURE() << bad;
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 4);
    }
    EXPECT_EQ(a.DirItemCount(), 3);
  }
}

// A copy shares the entries of the original until one of the two changes them: neither ever
// sees the other's changes, whatever they are and wherever they fall among many segments,
// and the entries neither changed are not duplicated.
TEST(TZADirArray, ACopySharesItsEntriesUntilEitherSideChangesThem) {
  const int n = 20000;  // several segments
  TZADirArray current, backup;
  std::vector<std::string> currentNames, backupNames;
  current.SetDirItemCount(n);
  for (int i = 0; i < n; ++i) {
    currentNames.push_back("e" + std::to_string(i));
    current.SetDirItemTexts(i, currentNames.back(), {}, {});
  }
  current.EditDirItem(7).SetComment("own");  // an entry with a block of its own
  backup.AssignDirItems(current);
  backupNames = currentNames;
  EXPECT_EQ(&backup.DirItemAt(n - 1), &current.DirItemAt(n - 1));

  // Each side in turn: removals here and there, renames, replacements, growth and a cut.
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    const bool onCurrent = round % 2 == 0;
    TZADirArray& dir = onCurrent ? current : backup;
    std::vector<std::string>& names = onCurrent ? currentNames : backupNames;
    const int count = dir.DirItemCount();
    switch (round % 5) {
      case 0: {
        std::vector<int> doomed;
        for (int k = 0; k < 30; ++k) doomed.push_back(int(random() % unsigned(count)));
        std::sort(doomed.begin(), doomed.end());
        doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
        dir.DeleteDirItems(doomed);
        for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) names.erase(names.begin() + *it);
        break;
      }
      case 1: {
        const int i = int(random() % unsigned(count));
        names[size_t(i)] = "renamed" + std::to_string(round);
        dir.EditDirItem(i).SetName(names[size_t(i)]);
        break;
      }
      case 2: {
        const int from = int(random() % unsigned(count)), to = int(random() % unsigned(count));
        dir.PutDirItem(to, dir.DirItemAt(from));
        names[size_t(to)] = names[size_t(from)];
        break;
      }
      case 3: {
        dir.SetDirItemCount(count + 5000);
        for (int i = count; i < count + 5000; ++i) {
          names.push_back("added" + std::to_string(round) + "-" + std::to_string(i));
          dir.SetDirItemTexts(i, names.back(), {}, {});
        }
        break;
      }
      case 4:
        dir.DeleteDirItem(0);
        names.erase(names.begin());
        dir.SetDirItemCount(count - 1 - 100);
        names.resize(size_t(count - 1 - 100));
        break;
    }
    for (const auto& [array, model] : {std::pair{&current, &currentNames}, std::pair{&backup, &backupNames}}) {
      SCOPED_TRACE("round " + std::to_string(round));
      ASSERT_EQ(array->DirItemCount(), int(model->size()));
      for (int i = 0; i < array->DirItemCount(); ++i) ASSERT_EQ(array->DirItemAt(i).Name(), (*model)[size_t(i)]) << i;
    }
  }
  // The entry with its own block is still whole on the side that kept it.
  const auto own = std::find(backupNames.begin(), backupNames.end(), "e7");
  if (own != backupNames.end()) EXPECT_EQ(backup.DirItemAt(int(own - backupNames.begin())).Comment(), "own");
  backup.SetDirItemCount(0);
  for (int i = 0; i < current.DirItemCount(); ++i) ASSERT_EQ(current.DirItemAt(i).Name(), currentNames[size_t(i)]);
}
