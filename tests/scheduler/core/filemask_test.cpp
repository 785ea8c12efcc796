#include "scheduler/core/filemask.h"

#include <gtest/gtest.h>

namespace {

struct MaskCase {
  const char* name;
  const char* mask;
  bool matches;
};

TEST(FileMask, WindowsRules) {
  const MaskCase cases[] = {
      {"a.txt", "*.txt", true},
      {"A.TXT", "*.txt", true},            // letter case ignored both ways
      {"a.txt", "*.TXT", true},
      {"a.txtx", "*.txt", false},
      {"a.tx", "*.txt", false},
      {"x.docx", "*.doc", false},
      {"readme", "*.*", true},             // "*.*" matches names without a dot
      {".bashrc", "*.*", true},            // and dot-files
      {"a.b.c", "*.*", true},
      {"readme", "*", true},
      {".hidden", "*", true},
      {"readme", "readme.*", true},        // a trailing ".*" also matches the bare stem
      {"readme.md", "readme.*", true},
      {"readme2", "readme.*", false},
      {"xyz", "x*.*", true},
      {"ayz", "x*.*", false},
      {"a.txt", "?.txt", true},
      {"ab.txt", "?.txt", false},
      {".txt", "?.txt", false},
      {"\xc3\xa9.txt", "?.txt", true},     // "?" is one code point, not one byte
      {"\xc3\xa9\xc3\xa9.txt", "?.txt", false},
      {"data.gz", "data.??", true},
      {"data.g", "data.??", false},
      {"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", true},  // non-ASCII case folding
      {"aXbYc", "a*b*c", true},
      {"abc", "a*b*c", true},
      {"acb", "a*b*c", false},
      {"banana", "*a", true},
      {"banana", "*n", false},
      {"a.txt", " *.txt", false},          // a leading space is part of the mask
      {" a.txt", " *.txt", true},
      {"a", "", false},                    // an empty mask matches nothing
      {"", "", false},
      {"\xff.txt", "?.txt", true},         // a byte that is not UTF-8 is one character
      {"\xff.txt", "*.txt", true},
      {"\xff\xfe.txt", "?.txt", false},
      {"\xff", "\xff", true},
      {"\xfe", "\xff", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(core::MatchesMask(c.name, c.mask), c.matches) << '"' << c.name << "\" ~ \"" << c.mask << '"';
  }
}

TEST(FileMask, MatchesAllOnlyForStarMasks) {
  EXPECT_TRUE(core::FileMask("*").MatchesAll());
  EXPECT_TRUE(core::FileMask("*.*").MatchesAll());
  EXPECT_TRUE(core::FileMask("**").MatchesAll());
  EXPECT_FALSE(core::FileMask("*.txt").MatchesAll());
  EXPECT_FALSE(core::FileMask("").MatchesAll());
  EXPECT_FALSE(core::FileMask(" *").MatchesAll());
}

TEST(SplitMasks, KeepsEveryPieceAsWritten) {
  using V = std::vector<std::string>;
  EXPECT_EQ(core::SplitMasks("*.txt;*.doc"), (V{"*.txt", "*.doc"}));
  EXPECT_EQ(core::SplitMasks("a;;b"), (V{"a", "", "b"}));
  EXPECT_EQ(core::SplitMasks("*.txt; *.doc"), (V{"*.txt", " *.doc"}));
  EXPECT_EQ(core::SplitMasks("*.txt;"), (V{"*.txt", ""}));
  EXPECT_EQ(core::SplitMasks(""), (V{""}));
  EXPECT_EQ(core::SplitMasks("*.txt;*.txt"), (V{"*.txt", "*.txt"}));
}

}  // namespace
