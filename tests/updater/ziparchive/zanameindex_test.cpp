#include "updater/ziparchive/zanameindex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater/ziparchive/zadirarray.h"

using namespace ziparchive;

namespace {

void fill(TZADirArray& dir, const std::vector<std::string>& names) {
  dir.SetDirItemCount(0);
  dir.SetDirItemCount(int(names.size()));
  for (int i = 0; i < int(names.size()); ++i) dir.SetDirItemTexts(i, names[size_t(i)], {}, {});
}

}  // namespace

// A name is found at its first entry, an absent one nowhere; entries that went away or were
// renamed since they were indexed are never returned; growth keeps what was added.
TEST(TZANameIndex, FindsTheFirstEntryOfANameAndNeverAStaleOne) {
  TZADirArray dir;
  fill(dir, {"a", "b/", "b/c", "a", "", "d"});
  TZANameIndex index;
  index.Build(dir);
  struct Case {
    std::string name;
    int found;
  };
  for (const Case& c : std::vector<Case>{{"a", 0}, {"b/", 1}, {"b/c", 2}, {"", 4}, {"d", 5}, {"e", -1}, {"b", -1}})
    EXPECT_EQ(index.Find(dir, c.name), c.found) << c.name;

  dir.DirItemAt(2).SetName("renamed");
  dir.DeleteDirItem(5);  // "d" was the last
  EXPECT_EQ(index.Find(dir, "b/c"), -1);
  EXPECT_EQ(index.Find(dir, "renamed"), -1);  // not added
  EXPECT_EQ(index.Find(dir, "d"), -1);

  // Many additions: the table grows and keeps every name at its first entry.
  const int before = dir.DirItemCount();
  dir.SetDirItemCount(before + 1000);
  for (int i = 0; i < 1000; ++i) {
    dir.SetDirItemTexts(before + i, "n" + std::to_string(i % 500), {}, {});
    index.Add(dir, before + i);
  }
  for (int i = 0; i < 500; i += 37) EXPECT_EQ(index.Find(dir, "n" + std::to_string(i)), before + i);
  EXPECT_EQ(index.Find(dir, "a"), 0);
  EXPECT_EQ(index.Find(TZADirArray(), "a"), -1);
}

// Each name hands out its entries in index order, each once, whatever the order in which
// entries are taken; taking every entry of one name leaves the others alone.
TEST(TZANameGroups, HandOutEachEntryOfANameOnceInIndexOrder) {
  TZADirArray dir;
  fill(dir, {"x", "y", "x", "z", "x", "y", "x"});
  TZANameGroups groups;
  groups.Build(dir);
  EXPECT_EQ(groups.FirstUntaken(dir, "x"), 0);
  groups.Take(2);  // out of order: the first stays first
  EXPECT_EQ(groups.FirstUntaken(dir, "x"), 0);
  groups.Take(0);
  EXPECT_EQ(groups.FirstUntaken(dir, "x"), 4);
  groups.Take(4);
  groups.Take(6);
  EXPECT_EQ(groups.FirstUntaken(dir, "x"), -1);
  EXPECT_EQ(groups.FirstUntaken(dir, "x"), -1);
  EXPECT_EQ(groups.FirstUntaken(dir, "y"), 1);
  EXPECT_EQ(groups.FirstUntaken(dir, "z"), 3);
  EXPECT_EQ(groups.FirstUntaken(dir, "w"), -1);

  // The entry at a given offset is taken before the first of its name, unless taken already.
  fill(dir, {"x", "x", "x", "y"});
  for (int i = 0; i < 4; ++i) dir.DirItemAt(i).LocalHeaderOffset = uint32_t(100 * (4 - i));
  groups.Build(dir);
  EXPECT_EQ(groups.OldEntryOf(dir, "x", 200), 2);
  groups.Take(2);
  EXPECT_EQ(groups.OldEntryOf(dir, "x", 200), 0);
  EXPECT_EQ(groups.OldEntryOf(dir, "x", 100), 0);  // the entry there is called y
  EXPECT_EQ(groups.OldEntryOf(dir, "y", 100), 3);
  EXPECT_EQ(groups.OldEntryOf(dir, "x", 12345), 0);

  // 100,000 entries of one name, taken in turn: each is asked for once.
  fill(dir, std::vector<std::string>(100000, "same"));
  groups.Build(dir);
  int next = 0;
  for (int j; (j = groups.FirstUntaken(dir, "same")) >= 0; ++next) {
    ASSERT_EQ(j, next);
    groups.Take(j);
  }
  EXPECT_EQ(next, 100000);
}
