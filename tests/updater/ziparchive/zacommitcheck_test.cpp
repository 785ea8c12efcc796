// Damaged archives: a commit that would keep a cut, overlapping, half-written or failing entry
// is refused before it writes anything.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/updater/ziparchive/zipwritekit.h"
#include "updater/ziparchive/zarecords.h"

using namespace zipwritekit;

namespace {

const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"a.txt", std::string(60000, 'a')}, {"b.txt", std::string(40000, 'b')}, {"c.txt", "troisième\n"}, {"d.txt", "dernier\n"}};

Contents entriesContents() { return Contents(kEntries.begin(), kEntries.end()); }

// Where the records of a whole archive stand.
struct Layout {
  std::string bytes;
  size_t directory = 0;              // first central header
  std::vector<size_t> central;       // central header of each entry
  std::vector<size_t> local;         // local header of each entry
  uint8_t* at(size_t p) { return reinterpret_cast<uint8_t*>(bytes.data()) + p; }
  size_t dataOf(size_t entry) {
    const size_t l = local[entry];
    return l + 30 + GetU16(at(l + 26)) + GetU16(at(l + 28));
  }
};

Layout layoutOf(const std::string& bytes) {
  Layout l;
  l.bytes = bytes;
  const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  l.directory = GetU32(l.at(end + 16));
  for (size_t p = l.directory, n = GetU16(l.at(end + 10)); n > 0; --n) {
    l.central.push_back(p);
    l.local.push_back(GetU32(l.at(p + 42)));
    p += 46 + GetU16(l.at(p + 28)) + GetU16(l.at(p + 30)) + GetU16(l.at(p + 32));
  }
  return l;
}

// The local header of an add killed after its header: sizes 0, CRC-32 not yet known.
std::string halfWrittenEntry(const std::string& name, const std::string& someData) {
  std::string h(30, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  PutU32(p, 0x04034b50);
  PutU16(p + 4, 20);
  PutU16(p + 8, 8);
  PutU32(p + 14, 0xFFFFFFFF);
  PutU16(p + 26, uint16_t(name.size()));
  return h + name + someData;
}

enum Change { kAppend, kReplaceFirst };

void change(TZABaseArchiver& zip, Change c) {
  if (c == kAppend) AddText(zip, "e.txt", "ajouté\n");
  if (c == kReplaceFirst) AddText(zip, "a.txt", "remplacé\n");
}

}  // namespace

TEST(ZipCommitCheck, ACommitIntoADamagedArchiveIsRefusedAndLeavesItsBytes) {
  const fs::path root = testenv::testRoot();
  MakeArchive(root / "whole.zip", kEntries, 0);
  const std::string whole = testenv::readFile(root / "whole.zip");
  struct Case {
    const char* name;
    std::function<std::string(Layout&)> damage;
    Change change;
    int code;
  } cases[] = {
      {"cut in its last entry, directory rebuilt",
       [](Layout& l) { return l.bytes.substr(0, l.dataOf(1) + 1000); }, kAppend, 35},
      {"cut so short in its first entry that the rebuild leaves it out",
       [](Layout& l) { return l.bytes.substr(0, l.dataOf(0) + 1000); }, kAppend, 35},
      {"the same behind an entry that stays",
       [](Layout& l) {
         return l.bytes.substr(l.local[2], l.local[3] - l.local[2]) + l.bytes.substr(l.local[0], l.dataOf(0) + 1000);
       },
       kAppend, 35},
      {"an add killed after its local header, directory rebuilt",
       [](Layout& l) { return l.bytes.substr(0, l.directory) + halfWrittenEntry("f.txt", std::string(500, 'x')); },
       kAppend, 8},
      {"the same, the first entry replaced",
       [](Layout& l) { return l.bytes.substr(0, l.directory) + halfWrittenEntry("f.txt", std::string(500, 'x')); },
       kReplaceFirst, 8},
      {"bad CRC-32, directory rebuilt",
       [](Layout& l) {
         l.bytes[l.dataOf(1) + 100] ^= 1;
         return l.bytes.substr(0, l.directory);
       },
       kAppend, 8},
      {"bad CRC-32 in the tail that moves",
       [](Layout& l) {
         l.bytes[l.dataOf(1) + 100] ^= 1;
         return l.bytes;
       },
       kReplaceFirst, 8},
      {"a local header whose extra field runs into the next entry",
       [](Layout& l) {
         PutU16(l.at(l.local[1] + 28), 40);
         return l.bytes;
       },
       kReplaceFirst, 35},
      {"sizes of the last entry reach into the directory",
       [](Layout& l) {
         PutU32(l.at(l.central[3] + 20), GetU32(l.at(l.central[3] + 20)) + 40);
         PutU32(l.at(l.central[3] + 24), GetU32(l.at(l.central[3] + 24)) + 40);
         return l.bytes;
       },
       kAppend, 35},
      {"an entry that says it has data and has none",
       [](Layout& l) {
         PutU32(l.at(l.central[3] + 20), 0);
         return l.bytes;
       },
       kAppend, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Layout l = layoutOf(whole);
    const fs::path folder = testenv::makeDir(c.name);
    const fs::path path = testenv::writeFile(folder / "arc.zip", c.damage(l));
    const std::string before = testenv::readFile(path);
    int code = 0;
    TestArchiver zip;
    zip.FileName = path.string();
    zip.TempDir = testenv::makeDir(folder / "temp").string();
    zip.OpenArchive();
    zip.BeginUpdate();
    change(zip, c.change);
    try {
      zip.EndUpdate();
    } catch (const EZAException& e) {
      code = e.NativeError;
      EXPECT_NE(std::string(e.what()).find("left unchanged"), std::string::npos) << e.what();
    }
    zip.CloseArchive();
    EXPECT_EQ(code, c.code);
    EXPECT_TRUE(testenv::readFile(path) == before) << "the damaged archive was written into";
    EXPECT_FALSE(JournalLeft(path));
    EXPECT_TRUE(TempFilesIn(zip.TempDir).empty());
  }
}

// What the check leaves alone: a whole archive, and a damaged one whose damaged entry goes.
TEST(ZipCommitCheck, DroppingTheDamagedEntryMendsTheArchive) {
  const fs::path root = testenv::testRoot();
  MakeArchive(root / "whole.zip", kEntries, 0);
  Layout l = layoutOf(testenv::readFile(root / "whole.zip"));
  struct Case {
    const char* name;
    std::string bytes;
    const char* drop;
  } cases[] = {
      {"cut in its second entry", l.bytes.substr(0, l.dataOf(1) + 1000), "b.txt"},
      {"a killed add", l.bytes.substr(0, l.directory) + halfWrittenEntry("e.txt", "xyz"), "e.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = testenv::writeFile(testenv::makeDir(c.name) / "arc.zip", c.bytes);
    Update(path, [&](TZipArchiver& zip) { zip.DeleteDirEntry(zip.FindEntry(c.drop)); });
    Contents expected = entriesContents();
    if (std::strcmp(c.drop, "b.txt") == 0) {
      // The entries after the cut one are lost with it: only what stood in front stays.
      expected = {{"a.txt", std::string(60000, 'a')}};
    }
    EXPECT_EQ(ReadBack(path), expected);
    PeersAccept(path);
  }
}

// The tool says so and leaves the archive as it was.
TEST(ZipCommitCheck, ZatoolAddOnACutArchiveFailsAndChangesNothing) {
  const std::string zatool = std::string(QUILLOMET_BINARY_DIR) + "/bin/zatool";
  if (!fs::exists(zatool)) GTEST_SKIP() << "zatool is not built";
  const fs::path root = testenv::testRoot();
  MakeArchive(root / "whole.zip", kEntries, 0);
  Layout l = layoutOf(testenv::readFile(root / "whole.zip"));
  const fs::path path = testenv::writeFile(root / "cut.zip", l.bytes.substr(0, l.dataOf(1) + 100));
  const fs::path added = testenv::writeFile(root / "new.txt", "nouveau\n");
  const std::string before = testenv::readFile(path);
  std::string out;
  EXPECT_EQ(peertools::Run(peertools::Quote(zatool) + " add " + peertools::Quote(path.string()) + " " +
                               peertools::Quote(added.string()),
                           out),
            1)
      << out;
  EXPECT_NE(out.find("b.txt"), std::string::npos) << out;
  EXPECT_TRUE(testenv::readFile(path) == before);
  EXPECT_FALSE(JournalLeft(path));
}
