// Damaged archives: a commit that would keep a cut, overlapping, half-written or failing entry,
// or move one whose local header does not match the directory, is refused before it writes
// anything.
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
  size_t count = GetU16(l.at(end + 10));
  if (l.directory == 0xFFFFFFFF || count == 0xFFFF) {  // in the Zip64 end record, which the locator gives
    const size_t zip64 = size_t(GetU64(l.at(end - 20 + 8)));
    l.directory = size_t(GetU64(l.at(zip64 + 48)));
    count = size_t(GetU64(l.at(zip64 + 32)));
  }
  for (size_t p = l.directory, n = count; n > 0; --n) {
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

// Commits change on the archive at path (temporary files beside it, none left); 0 when it
// went through, else the engine's code, whose message says the archive is left unchanged.
int commit(const fs::path& path, const std::function<void(TZABaseArchiver&)>& change) {
  TestArchiver zip;
  zip.FileName = path.string();
  zip.TempDir = testenv::makeDir(path.parent_path() / "temp").string();
  zip.OpenArchive();
  zip.BeginUpdate();
  change(zip);
  int code = 0;
  try {
    zip.EndUpdate();
  } catch (const EZAException& e) {
    code = e.NativeError;
    EXPECT_NE(std::string(e.what()).find("left unchanged"), std::string::npos) << e.what();
  }
  zip.CloseArchive();
  EXPECT_TRUE(TempFilesIn(zip.TempDir).empty());
  return code;
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
    const fs::path path = testenv::writeFile(testenv::makeDir(c.name) / "arc.zip", c.damage(l));
    const std::string before = testenv::readFile(path);
    EXPECT_EQ(commit(path, [&](TZABaseArchiver& zip) { change(zip, c.change); }), c.code);
    EXPECT_TRUE(testenv::readFile(path) == before) << "the damaged archive was written into";
    EXPECT_FALSE(JournalLeft(path));
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

namespace {

// The change of a commit, on the first or the last of three entries.
struct Op {
  std::string name;
  int entry;  // the entry it changes (-1: none, a new one is appended)
  std::function<void(TZABaseArchiver&, const std::string&)> apply;
};

const std::vector<std::pair<std::string, std::string>> kThree = {
    {"premier.txt", std::string(3000, 'p') + "fin du premier\n"},
    {"milieu.txt", "au milieu\n"},
    {"dernier.txt", std::string(2000, 'd') + "fin du dernier\n"}};

std::vector<Op> opsOnFirstAndLast() {
  std::vector<Op> ops = {{"add", -1, [](TZABaseArchiver& z, const std::string&) { AddText(z, "ajout.txt", "ajouté\n"); }}};
  for (int entry : {0, 2}) {
    const std::string where = entry == 0 ? " first" : " last";
    ops.push_back({"replace" + where, entry,
                   [](TZABaseArchiver& z, const std::string& n) { AddText(z, n, "remplacé\n"); }});
    ops.push_back({"delete" + where, entry,
                   [](TZABaseArchiver& z, const std::string& n) { z.DeleteDirEntry(z.FindEntry(n)); }});
    ops.push_back({"rename" + where, entry,
                   [](TZABaseArchiver& z, const std::string& n) { z.RenameFile(n, "autre-" + n); }});
  }
  return ops;
}

int commit(const fs::path& path, const Op& op, const std::string& entryName) {
  return commit(path, [&](TZABaseArchiver& zip) { op.apply(zip, entryName); });
}

// What the archive should hold after op.
Contents expectedAfter(const Op& op, const std::vector<std::pair<std::string, std::string>>& entries) {
  Contents c(entries.begin(), entries.end());
  const std::string changed = op.entry >= 0 ? entries[size_t(op.entry)].first : "";
  const std::string what = op.name;
  if (what == "add") c["ajout.txt"] = "ajouté\n";
  if (what.starts_with("replace")) c[changed] = "remplacé\n";
  if (what.starts_with("delete")) c.erase(changed);
  if (what.starts_with("rename")) {
    c["autre-" + changed] = c[changed];
    c.erase(changed);
  }
  return c;
}

}  // namespace

// An entry that the commit reads and moves anyway (the ones after a changed entry, and a
// renamed one, whose header is rewritten) is checked against its directory record: a local
// header that names, sizes or describes it otherwise refuses the commit, which then leaves
// the file as it was. A damaged entry that the commit drops mends the archive; one that stays
// in place is carried over byte for byte, as peers do.
TEST(ZipCommitCheck, AMovedEntryWhoseLocalHeaderDiffersIsRefused) {
  const fs::path root = testenv::testRoot();
  MakeArchive(root / "whole.zip", kThree, 6);
  const std::string whole = testenv::readFile(root / "whole.zip");
  struct Damage {
    const char* name;
    std::function<void(Layout&, size_t local)> apply;
  } damages[] = {
      {"local name differs", [](Layout& l, size_t h) { l.bytes[h + 30] ^= 0x20; }},
      {"local name longer", [](Layout& l, size_t h) { PutU16(l.at(h + 26), GetU16(l.at(h + 26)) + 1); }},
      {"local signature broken", [](Layout& l, size_t h) { l.bytes[h + 1] = 'L'; }},
      {"local compressed size differs", [](Layout& l, size_t h) { PutU32(l.at(h + 18), GetU32(l.at(h + 18)) - 1); }},
      {"local uncompressed size differs", [](Layout& l, size_t h) { PutU32(l.at(h + 22), GetU32(l.at(h + 22)) + 1); }},
      {"local sizes zero without a descriptor", [](Layout& l, size_t h) { PutU32(l.at(h + 18), 0), PutU32(l.at(h + 22), 0); }},
      {"local CRC-32 differs", [](Layout& l, size_t h) { l.bytes[h + 14] ^= 1; }},
      {"local method differs", [](Layout& l, size_t h) { PutU16(l.at(h + 8), 0); }},
      {"local header says encrypted", [](Layout& l, size_t h) { PutU16(l.at(h + 6), GetU16(l.at(h + 6)) | 1); }},
      {"local header says a descriptor follows", [](Layout& l, size_t h) { PutU16(l.at(h + 6), GetU16(l.at(h + 6)) | 8); }},
  };
  // The header of the last entry in front of the cut is read for its bounds alone.
  auto breaksBounds = [](const Damage& d) {
    return std::string(d.name) == "local signature broken" || std::string(d.name) == "local name longer";
  };
  const std::vector<Op> ops = opsOnFirstAndLast();
  int refused = 0, mended = 0, carried = 0;
  for (const Damage& d : damages) {
    for (size_t damaged : {size_t(0), size_t(2)}) {
      for (const Op& op : ops) {
        SCOPED_TRACE(std::string(d.name) + " in entry " + std::to_string(damaged) + ", " + op.name);
        Layout l = layoutOf(whole);
        const size_t header = l.local[damaged];
        const size_t end = l.dataOf(damaged) + GetU32(l.at(l.central[damaged] + 20));
        d.apply(l, header);
        const fs::path folder = testenv::makeDir(std::string(d.name) + "-" + std::to_string(damaged) + "-" + op.name);
        const fs::path path = testenv::writeFile(folder / "arc.zip", l.bytes);
        const std::string name = op.entry >= 0 ? kThree[size_t(op.entry)].first : std::string();
        const int code = commit(path, op, name);
        // The damaged entry moves when an entry before it changes, or when it is renamed.
        const bool moves = (op.entry >= 0 && size_t(op.entry) < damaged) ||
                           (size_t(op.entry) == damaged && op.name.starts_with("rename"));
        const bool gone = size_t(op.entry) == damaged && !moves;
        const bool lastInFront = op.entry < 0 ? damaged == 2 : size_t(op.entry) == damaged + 1;
        const bool refuse = moves || (lastInFront && breaksBounds(d));
        if (refuse) {
          ++refused;
          EXPECT_EQ(code, 35);
          EXPECT_TRUE(testenv::readFile(path) == l.bytes) << "the archive was written into";
          EXPECT_FALSE(JournalLeft(path));
          continue;
        }
        EXPECT_EQ(code, 0);
        if (gone) {
          ++mended;
          EXPECT_EQ(ReadBack(path), expectedAfter(op, kThree));
          PeersAccept(path);
        } else {
          ++carried;
          const std::string after = testenv::readFile(path);
          ASSERT_GE(after.size(), end);
          EXPECT_TRUE(after.compare(header, end - header, l.bytes, header, end - header) == 0)
              << "the damaged entry did not stay as it was";
        }
      }
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(mended, 0);
  EXPECT_GT(carried, 0);
}

// What peers write stays writable: local headers with zeros before a data descriptor, sizes in
// a local Zip64 field, both. A local Zip64 size that differs is refused like any other.
TEST(ZipCommitCheck, LocalHeadersThatPeersWriteAreNoDamage) {
  const fs::path root = testenv::testRoot();
  const fs::path files = testenv::makeDir("files");
  std::string names;
  for (const auto& [name, data] : kThree) {
    testenv::writeFile(files / name, data);
    names += " " + name;
  }
  const fs::path pipe = testenv::writeFile(
      root / "stream.py",
      "import io, sys, zipfile\n"
      "class Pipe(io.RawIOBase):\n"
      "    def writable(self): return True\n"
      "    def write(self, b): return sys.stdout.buffer.write(b)\n"
      "with zipfile.ZipFile(Pipe(), 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    for name in sys.argv[1:]:\n"
      "        with z.open(name, 'w') as e, open(name, 'rb') as f:\n"
      "            e.write(f.read())\n");
  const struct Maker {
    const char* name;
    std::string command;  // run in the folder of the files, writes out.zip
    bool descriptor, zip64;
  } makers[] = {
      {"zipfile to a pipe", "/usr/bin/python3 " + peertools::Quote(pipe.string()) + names + " > out.zip", true, false},
      {"zip -fz", "zip -q -fz out.zip" + names, false, true},
      {"bsdtar zip64", "bsdtar --format zip --options zip:zip64 -cf out.zip" + names, true, true},
  };
  const std::vector<Op> ops = opsOnFirstAndLast();
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.name);
    fs::remove(files / "out.zip");
    std::string out;
    ASSERT_EQ(peertools::Run("cd " + peertools::Quote(files.string()) + " && " + m.command, out), 0) << out;
    const std::string bytes = testenv::readFile(files / "out.zip");
    Layout l = layoutOf(bytes);
    const size_t last = l.local[2];
    ASSERT_EQ((GetU16(l.at(last + 6)) & 8) != 0, m.descriptor);
    ASSERT_EQ(GetU32(l.at(last + 22)) == 0xFFFFFFFF, m.zip64);
    for (const Op& op : ops) {
      SCOPED_TRACE(op.name);
      const fs::path path = testenv::writeFile(testenv::makeDir(std::string(m.name) + "-" + op.name) / "arc.zip", bytes);
      EXPECT_EQ(commit(path, op, op.entry >= 0 ? kThree[size_t(op.entry)].first : std::string()), 0);
      EXPECT_EQ(ReadBack(path), expectedAfter(op, kThree));
      PeersAccept(path);
    }
    if (m.zip64 && !m.descriptor) {
      // The uncompressed size in the last entry's local Zip64 field, one more.
      size_t p = last + 30 + GetU16(l.at(last + 26));
      while (GetU16(l.at(p)) != 1) p += 4 + GetU16(l.at(p + 2));
      PutU64(l.at(p + 4), GetU64(l.at(p + 4)) + 1);
      const fs::path path = testenv::writeFile(testenv::makeDir(std::string(m.name) + "-damaged") / "arc.zip", l.bytes);
      EXPECT_EQ(commit(path, ops[2], kThree[0].first), 35);  // the first deleted: the last moves
      EXPECT_TRUE(testenv::readFile(path) == l.bytes);
    }
  }
}
