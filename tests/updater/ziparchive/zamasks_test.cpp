// File masks: the matcher's rules, the stored-name adapter and the attribute filter.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "updater/ziparchive/zamasks.h"

using namespace ziparchive;

TEST(MaskMatchesName, Table) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  };
  const Case cases[] = {
      {"readme.txt", "*.*", true},
      {"readme", "*.*", true},
      {"readme", "*", true},
      {"", "*", true},
      {"docs/readme.txt", "*.txt", true},
      {"docs/readme.txt", "*.TXT", true},
      {"file.TXT", "*.txt", true},
      {"docs/readme.txt", "docs/*", true},
      {"readme", "readme.", true},
      {"readme.", "readme.", true},
      {"readme.txt", "readme.", false},
      {"readme", "*.", true},
      {"a/readme", "*.", true},
      {"a.b/readme", "*.", true},
      {"readme.txt", "*.", false},
      {"abc", "a?c", true},
      {"aBc", "a?c", true},
      {"ac", "a?c", false},
      {"a", "a*", true},
      {"a", "a*b", false},
      {"ab", "a*b", true},
      {"axxxbyyyb", "a*b", true},
      {"a", "", false},
      {"", "", false},
      // "?" takes one character, whatever its byte length.
      {"a\xC3\xA9" "c", "a?c", true},
      {"a\xE2\x82\xAC" "c", "a?c", true},
      {"a\xF0\x9F\x98\x80" "c", "a?c", true},
      {"a\xC3\xA9" "c", "a??c", false},
      // One fold for all comparisons, beyond ASCII too.
      {"\xC3\x89T\xC3\x89.TXT", "\xC3\xA9t\xC3\xA9.txt", true},
      {"\xCE\xA3" "A", "\xCF\x83" "a", true},
      {"stra\xC3\x9F" "e", "STRASSE", false},
      // A byte that starts no valid sequence stands for itself.
      {"a\xFF" "c", "a?c", true},
      {"a\xFF" "c", "a\xFF" "c", true},
      {"a\xFE" "c", "a\xFF" "c", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MaskMatchesName(c.name, c.mask), c.match) << "name '" << c.name << "' mask '" << c.mask << "'";
  }
}

TEST(MatchesMask, CaseSensitivityAndStarDotStarInsideTheMask) {
  EXPECT_FALSE(MatchesMask("ABC", "abc", false));
  EXPECT_TRUE(MatchesMask("ABC", "abc", true));
  // After a "*", a rest of exactly "*.*" matches anything, even names without a dot.
  EXPECT_TRUE(MatchesMask("xyz", "x**.*", true));
  EXPECT_TRUE(MatchesMask("a/b\\c", "a*c", true));
}

TEST(MatchesMask, PathologicalMaskStaysFastAndKeepsItsAnswer) {
  const std::string name(900, 'a');
  std::string mask;
  for (int i = 0; i < 60; ++i) mask += "a*";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchesMask(name, mask + "b", true));
  EXPECT_TRUE(MatchesMask(name + "b", mask + "b", true));
  EXPECT_TRUE(MatchesMask(name, mask, true));
  // A plain recursive matcher needs longer than the age of the universe for the first call.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(FoldCaseText, FoldsEveryCodePoint) {
  EXPECT_EQ(FoldCaseText("Docs/\xC3\x89t\xC3\xA9/"), FoldCaseText("DOCS/\xC3\xA9T\xC3\x89/"));
  EXPECT_NE(FoldCaseText("docs/a"), FoldCaseText("docs/b"));
  EXPECT_EQ(FoldCaseText("a\xFF"), FoldCaseText("A\xFF"));
}

TEST(AttributesMatch, FilteredBitsNeedTheSearchBit) {
  struct Case {
    uint32_t entry, search;
    bool match;
  };
  const Case cases[] = {
      {0x20, 0x20, true},   {0x02, 0x28BF, true}, {0x02, 0x20, false}, {0x04, 0x20, false},
      {0x08, 0x20, false},  {0x10, 0x20, false},  {0x10, 0x10, true},  {0x01, 0x00, true},
      {0x81A40020, 0x0, true}, {0x16, 0x28BF, true}, {0x16, 0x06, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AttributesMatch(c.entry, c.search), c.match) << std::hex << c.entry << " " << c.search;
  }
}
