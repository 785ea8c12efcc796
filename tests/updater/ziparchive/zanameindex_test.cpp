#include "updater/ziparchive/zanameindex.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
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

  dir.EditDirItem(2).SetName("renamed");
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

// Renames followed in place answer as a fresh index would, name by name, through growth of
// the table and renames back and forth. While all names differ every rename is followed;
// once two entries may share one the index says it cannot follow, and a rebuild answers.
TEST(TZANameIndex, FollowsRenamesAsARebuildWouldAnswer) {
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    TZADirArray dir;
    const int n = 50 + round * 20;
    std::vector<std::string> names;
    // Every round but the first has two entries of one name from the start.
    for (int i = 0; i < n; ++i) names.push_back("f" + std::to_string(i));
    if (round > 0) names[size_t(n - 1)] = names[size_t(round % (n - 1))];
    fill(dir, names);
    TZANameIndex index;
    index.Build(dir);
    for (int step = 0; step < 3 * n; ++step) {
      std::set<std::string_view> seen;
      bool repeated = false;
      for (int k = 0; k < n; ++k) repeated = !seen.insert(dir.DirItemAt(k).Name()).second || repeated;
      const int i = int(random() % uint32_t(n));
      const std::string previous(dir.DirItemAt(i).Name());
      // Mostly new names; now and then one that another entry has (or had).
      const std::string name = random() % 8 == 0 ? "f" + std::to_string(random() % uint32_t(n))
                                                 : "r" + std::to_string(step) + "/" + previous;
      dir.EditDirItem(i).SetName(name);
      if (!index.Rename(dir, i, previous)) {
        EXPECT_TRUE(repeated) << "a rename among names that are all different is followed in place";
        index.Build(dir);
      }
      for (const std::string& probe : {name, previous, std::string("f0"), std::string("absent")}) {
        int first = -1;
        for (int k = 0; k < n && first < 0; ++k)
          if (dir.DirItemAt(k).Name() == probe) first = k;
        ASSERT_EQ(index.Find(dir, probe), first) << "round " << round << ", step " << step << ", " << probe;
      }
    }
  }
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
  for (int i = 0; i < 4; ++i) dir.EditDirItem(i).LocalHeaderOffset = uint32_t(100 * (4 - i));
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
