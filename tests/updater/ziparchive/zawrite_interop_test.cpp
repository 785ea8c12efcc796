// Archives we write, checked by the peers: unzip -t, 7zz t and Python's zipfile, with the
// contents compared entry by entry. The Zip64 rows past 4 GiB write about 4.3 GB of archive;
// their test names start with Big (ctest label "big").
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/updater/ziparchive/ourarchive.h"
#include "tests/updater/ziparchive/zipwritekit.h"

using namespace zipwritekit;

namespace {

// A small tree of every kind of entry: text, binary, empty file, empty folder, nested
// folders, a UTF-8 name. Returns what each entry holds ("" for folders).
Contents makeTree(const fs::path& root) {
  Contents c;
  auto file = [&](const std::string& name, const std::string& data) {
    testenv::writeFile(root / name, data);
    c[name] = data;
  };
  std::string text, binary;
  for (int i = 0; i < 4000; ++i) text += "ligne " + std::to_string(i * 37 % 1001) + " du journal\n";
  for (int i = 0; i < 50000; ++i) binary += char((i * 2654435761u) >> 13);
  file("journal.txt", text);
  file("data/noise.bin", binary);
  file("data/empty.dat", "");
  file("data/deep/er/caf\xC3\xA9 cr\xC3\xA8me.txt", "accents\n");
  fs::create_directories(root / "vide");
  for (const char* folder : {"data/", "data/deep/", "data/deep/er/", "vide/"}) c[folder] = "";
  return c;
}

void checkEveryReader(const fs::path& archive, const Contents& expected, const std::string& password = {}) {
  PeersAccept(archive, password);
  EXPECT_EQ(PythonReads(archive, password), expected);
  EXPECT_EQ(ReadBack(archive, password), expected);
}

// Adds the tree at root (its contents, named relative to it) to a new archive.
void addTree(TZipArchiver& zip, const fs::path& archive, const fs::path& root) {
  zip.FileName = archive.string();
  zip.BaseDir = root.string();
  zip.OpenArchiveMode(kCreateArchiveMode);
  zip.BeginUpdate();
  zip.AddFiles(".");
  zip.EndUpdate();
  zip.CloseArchive();
}

}  // namespace

TEST(ZipWriteInterop, EveryKindOfArchiveWeWriteReadsInEveryPeer) {
  const fs::path tree = testenv::makeDir("tree");
  const Contents contents = makeTree(tree);
  struct Row {
    std::string name;
    std::function<void(TZipArchiver&, const fs::path&)> make;  // writes the archive
    std::function<Contents()> expected;
    std::string password;
  };
  std::vector<Row> rows;
  for (int level = 0; level <= 9; ++level) {
    rows.push_back({"level " + std::to_string(level),
                    [level, tree](TZipArchiver& zip, const fs::path& a) {
                      zip.SetCompressionMode(level);
                      addTree(zip, a, tree);
                    },
                    [&] { return contents; }, ""});
  }
  rows.push_back({"renamed and deleted",
                  [tree](TZipArchiver& zip, const fs::path& a) {
                    addTree(zip, a, tree);
                    zip.OpenArchive();
                    zip.BeginUpdate();
                    zip.RenameFile("journal.txt", "archives/journal renomm\xC3\xA9.txt");
                    zip.DeleteFiles("data/noise.bin");
                    zip.EndUpdate();
                    zip.CloseArchive();
                  },
                  [&] {
                    Contents c = contents;
                    c["archives/journal renomm\xC3\xA9.txt"] = c["journal.txt"];
                    c.erase("journal.txt");
                    c.erase("data/noise.bin");
                    return c;
                  },
                  ""});
  rows.push_back({"encrypted",
                  [tree](TZipArchiver& zip, const fs::path& a) {
                    zip.Password = "s\xC3\xA9same 42";
                    addTree(zip, a, tree);
                  },
                  [&] { return contents; }, "s\xC3\xA9same 42"});
  rows.push_back({"behind an SFX stub, then changed",
                  [tree](TZipArchiver& zip, const fs::path& a) {
                    zip.SFXStub = testenv::writeFile(a.parent_path() / "stub.bin", std::string(12345, '\x90')).string();
                    addTree(zip, a, tree);
                    zip.SFXStub.clear();
                    zip.OpenArchive();
                    zip.BeginUpdate();
                    zip.DeleteDirEntry(0);
                    AddText(zip, "ajout.txt", "ajout\n");
                    zip.EndUpdate();
                    zip.CloseArchive();
                    EXPECT_EQ(testenv::readFile(a).substr(0, 12345), std::string(12345, '\x90'));
                  },
                  [&] {
                    Contents c = contents;
                    c.erase("data/");  // the first entry of the walk
                    c["ajout.txt"] = "ajout\n";
                    return c;
                  },
                  ""});
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path archive = testenv::makeDir("row" + std::to_string(&row - rows.data())) / "arc.zip";
    TZipArchiver zip;
    zip.TempDir = archive.parent_path().string();
    row.make(zip, archive);
    checkEveryReader(archive, row.expected(), row.password);
    if (!row.password.empty()) {
      // A wrong password skips every file entry, in the peers and in ours (one that fails the
      // cipher's one-byte check of each entry: any passes it for one entry in 256).
      const std::string wrong = ourarchive::WrongPasswordFor(archive);
      std::string out;
      peertools::Run("unzip -t -P " + peertools::Quote(wrong) + " " + peertools::Quote(archive.string()), out);
      EXPECT_NE(out.find("skipped because of incorrect password"), std::string::npos) << out;
      TZipArchiver reader;
      reader.FileName = archive.string();
      reader.Password = wrong;
      reader.OnPassword = [](TZABaseArchiver*, const std::string&, std::string&, bool& skip) { skip = true; };
      reader.OpenArchiveMode(kOpenReadDenyNone);
      reader.BaseDir = testenv::makeDir("wrong").string();
      const TZABatchResult r = reader.ExtractFiles("*.*", kDefaultSearchAttr, "");
      EXPECT_EQ(r.Failed, 0);
      EXPECT_EQ(r.Skipped, 4);
    }
  }
}

TEST(ZipWriteInterop, EncryptedArchivesOfThePeersOpenInOurs) {
  const fs::path dir = testenv::makeDir("theirs");
  testenv::writeFile(dir / "a.txt", "peer secret\n");
  std::string out;
  ASSERT_EQ(peertools::Run("cd " + peertools::Quote(dir.string()) + " && zip -q -P pw zip.zip a.txt && 7zz a -tzip -ppw -bso0 7z.zip a.txt", out), 0) << out;
  for (const char* name : {"zip.zip", "7z.zip"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadBack(dir / name, "pw"), (Contents{{"a.txt", "peer secret\n"}}));
  }
}

TEST(ZipWriteInterop, PastTheEntryLimitOfTheEndRecord) {
  const fs::path archive = testenv::testRoot() / "many.zip";
  Contents expected;
  {
    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.FileName = archive.string();
    zip.OpenArchiveMode(kCreateArchiveMode);
    zip.BeginUpdate();
    for (int i = 0; i < 65600; ++i) {
      const std::string name = "e/" + std::to_string(i) + ".txt";
      expected[name] = std::to_string(i);
      AddText(zip, name, expected[name]);
    }
    zip.EndUpdate();
    zip.CloseArchive();
  }
  checkEveryReader(archive, expected);
  // An append keeps the Zip64 records right.
  {
    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.FileName = archive.string();
    zip.OpenArchive();
    zip.BeginUpdate();
    AddText(zip, "last.txt", "last");
    zip.EndUpdate();
    zip.CloseArchive();
  }
  expected["last.txt"] = "last";
  checkEveryReader(archive, expected);
}

TEST(ZipWriteInterop, ASplitArchiveReadsInThePeers) {
  const fs::path tree = testenv::makeDir("tree");
  const Contents contents = makeTree(tree);
  const fs::path dir = testenv::makeDir("split");
  TZipArchiver zip;
  zip.SetSpanningMode(smSplitting);
  zip.SpanningOptions.AdvancedNaming = false;
  zip.SpanningOptions.VolumeSize = vsCustom;
  // Info-ZIP's joining garbles an entry that runs over three volumes (its own too): two at most.
  zip.SpanningOptions.SetCustomVolumeSize(100000);
  zip.SetCompressionMode(0);
  zip.TempDir = testenv::makeDir("temp").string();
  addTree(zip, dir / "arc.zip", tree);
  EXPECT_TRUE(fs::exists(dir / "arc.z01") && fs::exists(dir / "arc.zip"));
  EXPECT_TRUE(TempFilesIn(zip.TempDir).empty());
  std::string out;
  EXPECT_EQ(peertools::Run("7zz t " + peertools::Quote((dir / "arc.zip").string()), out), 0) << out;
  // unzip and Python read split archives once joined; ours reads the volumes.
  ASSERT_EQ(peertools::Run("cd " + peertools::Quote(dir.string()) + " && zip -q -s 0 arc.zip --out joined.zip", out), 0)
      << out;
  checkEveryReader(dir / "joined.zip", contents);
  EXPECT_EQ(ReadBack(dir / "arc.zip"), contents);
}

// About 4.3 GB on the disk for a few seconds: an entry stored from a sparse 4.2 GiB file, a
// small entry after it (offset past 4 GiB), then an append past 4 GiB.
TEST(ZipWriteInterop, BigZip64PastFourGiB) {
  const fs::path dir = testenv::makeDir("big");
  const fs::path sparse = dir / "zeros.bin";
  const int64_t size = (int64_t(4) << 30) + 123457;
  {
    const int fd = ::open(sparse.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  testenv::writeFile(dir / "after.txt", "after the big one\n");
  const fs::path archive = dir / "big.zip";
  {
    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.SetCompressionMode(0);
    zip.FileName = archive.string();
    zip.BaseDir = dir.string();
    zip.TempDir = dir.string();
    zip.OpenArchiveMode(kCreateArchiveMode);
    zip.BeginUpdate();
    zip.AddFiles("zeros.bin");
    zip.AddFiles("after.txt");
    zip.EndUpdate();
    zip.CloseArchive();
  }
  fs::remove(sparse);
  {
    TZipArchiver zip;
    zip.Zip64Mode = zmAuto;
    zip.FileName = archive.string();
    zip.TempDir = dir.string();
    zip.OpenArchive();
    EXPECT_GT(EffectiveLocalHeaderOffset(zip.FDirManager->CurrentDir.DirItemAt(1)), int64_t(0xFFFFFFFF));
    zip.BeginUpdate();
    AddText(zip, "appended.txt", "appended\n");
    zip.EndUpdate();
    TZAMemoryStream m;
    zip.ExtractItemToStream(2, m);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())), "appended\n");
    zip.CloseArchive();
  }
  PeersAccept(archive);
  std::string out;
  const std::string script =
      "import sys, zipfile, zlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    crc = 0\n"
      "    with z.open(i) as f:\n"
      "        while True:\n"
      "            b = f.read(1 << 24)\n"
      "            if not b: break\n"
      "            crc = zlib.crc32(b, crc)\n"
      "    assert crc == i.CRC, i.filename\n"
      "    print(i.filename, i.file_size)\n";
  const fs::path py = testenv::writeFile(dir / "check.py", script);
  EXPECT_EQ(peertools::Run("/usr/bin/python3 " + peertools::Quote(py.string()) + " " + peertools::Quote(archive.string()), out), 0) << out;
  EXPECT_NE(out.find("zeros.bin " + std::to_string(size)), std::string::npos) << out;
  EXPECT_NE(out.find("appended.txt 9"), std::string::npos) << out;
  fs::remove(archive);
}
