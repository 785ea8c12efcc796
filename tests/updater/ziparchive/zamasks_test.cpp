// File masks: the matcher's rules, the stored-name adapter and the attribute filter.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <utility>
#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/zipbuilder.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zamasks.h"

using namespace ziparchive;

TEST(MaskMatchesName, Table) {
  SetCaseLocale("C.UTF-8");
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
  SetCaseLocale("");
}

namespace {

// Case rules of a locale for one test; the user's own afterwards.
struct ScopedCaseLocale {
  explicit ScopedCaseLocale(const char* name) { SetCaseLocale(name); }
  ~ScopedCaseLocale() { SetCaseLocale(""); }
};

}  // namespace

TEST(CaseRules, TurkishAndAzeriLocalesPairTheDottedAndDotlessI) {
  const char* turkic[] = {"tr_TR.UTF-8", "tr_TR", "tr", "az_AZ.UTF-8", "az_AZ@latin"};
  const char* simple[] = {"fr_FR.UTF-8", "C.UTF-8", "C", "POSIX", "en_US", "trk_XX", "zz_TR.UTF-8"};
  for (const char* name : turkic) EXPECT_EQ(CaseRulesForLocale(name), TZACaseRules::Turkic) << name;
  for (const char* name : simple) EXPECT_EQ(CaseRulesForLocale(name), TZACaseRules::Simple) << name;

  const char* dottedCapital = "\xC4\xB0";  // U+0130
  const char* dotlessSmall = "\xC4\xB1";   // U+0131
  struct Case {
    std::string name, mask;
    bool turkic, simple;  // the answer under each rule
  };
  const Case cases[] = {
      {"file.TXT", "*.txt", true, true},
      {"FILE", "file", false, true},
      {std::string("F") + dottedCapital + "LE", "file", true, true},
      {"FILE", std::string("f") + dotlessSmall + "le", true, true},
      {"file", std::string("f") + dotlessSmall + "le", false, true},
      {std::string("d") + dottedCapital + "z", "DIZ", false, true},
      {"MIX.ini", "mix.INI", false, true},
      {"mix.ini", "M?X.*", true, true},
      {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", true, true},  // other letters fold as ever
  };
  for (const char* locale : {"tr_TR.UTF-8", "fr_FR.UTF-8"}) {
    ScopedCaseLocale scoped(locale);
    const bool isTurkic = CaseRules() == TZACaseRules::Turkic;
    for (const Case& c : cases) {
      EXPECT_EQ(MaskMatchesName(c.name, c.mask), isTurkic ? c.turkic : c.simple)
          << locale << ": name '" << c.name << "' mask '" << c.mask << "'";
    }
    // Folders of the non-recursive search fold the same way.
    EXPECT_EQ(FoldedFolderOf("Dir/a") == FoldedFolderOf("DIR/b"), !isTurkic) << locale;
  }
}

TEST(CaseRules, TheUsersLocaleComesFromTheEnvironmentInItsOrder) {
  struct Case {
    const char *all, *ctype, *lang;
    TZACaseRules rules;
  } cases[] = {
      {nullptr, nullptr, "tr_TR.UTF-8", TZACaseRules::Turkic},
      {nullptr, "az_AZ.UTF-8", "fr_FR.UTF-8", TZACaseRules::Turkic},
      {"fr_FR.UTF-8", "tr_TR.UTF-8", "tr_TR.UTF-8", TZACaseRules::Simple},
      {"", "", "tr_TR", TZACaseRules::Turkic},  // empty values do not count
      {nullptr, nullptr, nullptr, TZACaseRules::Simple},
  };
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* n : names) {
    if (const char* v = std::getenv(n)) saved.emplace_back(n, v);
  }
  for (const Case& c : cases) {
    const char* values[] = {c.all, c.ctype, c.lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr) {
        setenv(names[i], values[i], 1);
      } else {
        unsetenv(names[i]);
      }
    }
    SetCaseLocale("");
    EXPECT_EQ(CaseRules(), c.rules) << (c.lang ? c.lang : "-");
  }
  for (const char* n : names) unsetenv(n);
  for (const auto& [n, v] : saved) setenv(n.c_str(), v.c_str(), 1);
  SetCaseLocale("");
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

// ---- entry search over an open archive ---------------------------------------------------

namespace {

std::vector<std::string> Found(TZipArchiver& z, const std::string& mask, int32_t attributes,
                               const std::string& exclusion = "") {
  std::vector<std::string> names;
  TZAArchiveItem item;
  for (bool ok = z.FindFirstItem(mask, item, attributes, exclusion); ok; ok = z.FindNextItem(item)) {
    names.push_back(item.StoredPath + item.ItemName);
  }
  return names;
}

struct SearchArchive {
  TZipArchiver z;
  SearchArchive() {
    zipbuilder::Builder b;
    auto add = [&](const std::string& name, const std::string& data, uint32_t attributes) {
      zipbuilder::Entry e;
      e.name = name;
      e.data = data;
      e.attributes = attributes;
      e.madeBy = 0x0014;  // MS-DOS host: the attributes are DOS attributes
      b.add(e);
    };
    add("docs/", "", 0x10);
    add("docs/a.txt", "aaa", 0x20);
    add("docs/sub/", "", 0x10);
    add("docs/sub/a.txt", "bbb", 0x20);
    add("readme", "r", 0x20);
    add("readme.txt", "rt", 0x20);
    add("hidden.txt", "h", 0x22);
    add("file.TXT", "", 0x20);
    z.FileName = testenv::writeFile(testenv::testRoot() / "search.zip", b.finish()).string();
    z.OpenArchiveMode(kOpenReadDenyNone);
  }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(FindFirstItem, MasksAttributesAndFolders) {
  SearchArchive a;
  TZipArchiver& z = a.z;
  EXPECT_EQ(Found(z, "*.*", 0x28BF), (Names{"docs", "docs\\a.txt", "docs\\sub", "docs\\sub\\a.txt", "readme",
                                            "readme.txt", "hidden.txt", "file.TXT"}));
  EXPECT_EQ(Found(z, "*.txt", 0x28BF),
            (Names{"docs\\a.txt", "docs\\sub\\a.txt", "readme.txt", "hidden.txt", "file.TXT"}));
  // Hidden and folder entries need their bits in the search attributes.
  EXPECT_EQ(Found(z, "*.txt", 0x20), (Names{"docs\\a.txt", "docs\\sub\\a.txt", "readme.txt", "file.TXT"}));
  EXPECT_EQ(Found(z, "*", 0x20), (Names{"docs\\a.txt", "docs\\sub\\a.txt", "readme", "readme.txt", "file.TXT"}));
  EXPECT_EQ(Found(z, "readme.", 0x20), (Names{"readme"}));
  EXPECT_EQ(Found(z, "a.txt", 0x20), (Names{"docs\\a.txt", "docs\\sub\\a.txt"}));  // by the file-name part
  EXPECT_EQ(Found(z, "docs\\*", 0x20), (Names{"docs\\a.txt", "docs\\sub\\a.txt"}));
  EXPECT_EQ(Found(z, "nothing*", 0x28BF), Names{});
  // The exclusion mask is applied like the file mask; an empty one excludes nothing.
  EXPECT_EQ(Found(z, "*", 0x20, "*.txt"), (Names{"readme"}));
  EXPECT_EQ(Found(z, "*", 0x20, "sub/*"), (Names{"docs\\a.txt", "docs\\sub\\a.txt", "readme", "readme.txt", "file.TXT"}));
  EXPECT_EQ(Found(z, "*", 0x20, "docs/sub/*"), (Names{"docs\\a.txt", "readme", "readme.txt", "file.TXT"}));

  z.Options.Recurse = false;
  EXPECT_EQ(Found(z, "docs/*", 0x28BF), (Names{"docs\\a.txt", "docs\\sub"}));
  EXPECT_EQ(Found(z, "DOCS/*.TXT", 0x28BF), (Names{"docs\\a.txt"}));
  EXPECT_EQ(Found(z, "*.txt", 0x28BF), (Names{"readme.txt", "hidden.txt", "file.TXT"}));
}

TEST(FindFirstItem, FillsTheItemAndStopsAtTheEnd) {
  SearchArchive a;
  TZAArchiveItem item;
  ASSERT_TRUE(a.z.FindFirstItem("docs/sub/a.txt", item, 0x28BF, ""));
  EXPECT_EQ(item.ItemName, "a.txt");
  EXPECT_EQ(item.StoredPath, "docs\\sub\\");
  EXPECT_EQ(item.UncompressedSize, 3);
  EXPECT_EQ(item.CompressedSize, 3);
  EXPECT_EQ(item.CompressionRate, 0.0);
  EXPECT_EQ(item.ExternalFileAttributes, 0x20u);
  EXPECT_EQ(item.InternalSearchRec.ItemIndex, 3);
  EXPECT_FALSE(a.z.FindNextItem(item));
  EXPECT_EQ(item.InternalSearchRec.ItemIndex, 4);  // a failed search leaves the record as it was
  ASSERT_TRUE(a.z.FindFirstItem("file.txt", item, 0x28BF, ""));
  EXPECT_EQ(item.CompressionRate, 100.0);  // both sizes 0
}

TEST(ItemSelected, MaskPropertiesModeUsesTheListsAndTheirExclusions) {
  TDirItem e;
  e.SetName("docs/sub/a.txt");
  TInternalSearchRec rec;
  rec.UseMaskProperties = true;
  EXPECT_TRUE(ItemSelected(e, rec, {"*.doc", "*.txt"}, {}));
  EXPECT_FALSE(ItemSelected(e, rec, {"*.doc"}, {}));
  EXPECT_FALSE(ItemSelected(e, rec, {"*.txt"}, {"docs\\sub\\*"}));
  EXPECT_FALSE(ItemSelected(e, rec, {"*.txt"}, {"docs/sub/*"}));
  EXPECT_TRUE(ItemSelected(e, rec, {"*.txt"}, {"other/*"}));
  EXPECT_FALSE(ItemSelected(e, rec, {}, {}));
}
