// Entry data through the component: archives of other tools read back, entries we write read
// by other tools, and damaged or hostile entries refused without harm.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ourarchive.h"
#include "tests/updater/ziparchive/zipbuilder.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaentrydata.h"
#include "updater/ziparchive/zaexcept.h"

using namespace ziparchive;
using ourarchive::Source;
using ourarchive::Unpack;
using ourarchive::WriteArchive;
namespace fs = std::filesystem;

namespace {

bool HaveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

int Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()); }

std::string Mixed(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    if (rng() % 3) {
      s += "line " + std::to_string(rng() % 5000) + " of the backup journal\n";
    } else {
      for (int i = 0; i < 100; ++i) s.push_back(static_cast<char>(rng()));
    }
  }
  s.resize(n);
  return s;
}

// The tree archived by the interop tests: name -> content.
std::map<std::string, std::string> SampleTree() {
  return {{"empty.txt", ""},
          {"small.txt", "hello archive\n"},
          {"docs/mixed.bin", Mixed(300000, 1)},
          {"docs/sub/big.bin", Mixed(2500000, 2)},
          {"exact.bin", Mixed(0x80000, 3)}};
}

fs::path WriteTree(const fs::path& root, const std::map<std::string, std::string>& tree) {
  for (const auto& [name, data] : tree) testenv::writeFile(root / name, data);
  return root;
}

void Open(TZipArchiver& z, const fs::path& archive) {
  z.FileName = archive.string();
  z.OpenArchiveMode(kOpenReadDenyNone);
  ASSERT_TRUE(z.FDirManager);
}


// Every file entry of the archive, decompressed; a failing entry fails the test.
std::map<std::string, std::string> UnpackAll(const fs::path& archive) {
  TZipArchiver z;
  Open(z, archive);
  std::map<std::string, std::string> files;
  if (!z.FDirManager) return files;
  for (int i = 0; i < z.FDirManager->CurrentDir.DirItemCount(); ++i) {
    const TDirItem& e = z.FDirManager->CurrentDir.DirItemAt(i);
    std::string content;
    EXPECT_TRUE(Unpack(z, i, content)) << e.Name() << ": " << DataStatusText(z.FLastDataStatus);
    if (!e.Name().empty() && e.Name().back() != '/') files[std::string(e.Name())] = content;
  }
  return files;
}

// Compares by name and content without printing megabytes of data.
void ExpectSameFiles(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want) {
  for (const auto& [name, data] : want) {
    auto it = got.find(name);
    if (it == got.end()) {
      ADD_FAILURE() << "missing " << name;
    } else {
      EXPECT_TRUE(it->second == data) << name << ": " << it->second.size() << " bytes, want " << data.size();
    }
  }
  for (const auto& entry : got) EXPECT_TRUE(want.count(entry.first)) << "extra " << entry.first;
}

std::string PythonReads(const fs::path& archive) {
  return "/usr/bin/python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
         "sys.exit(z.testzip() is not None)\" '" + archive.string() + "'";
}

}  // namespace

TEST(EntryData, ArchivesOfOtherToolsDecompressToTheirFiles) {
  const auto tree = SampleTree();
  const fs::path src = WriteTree(testenv::makeDir("src"), tree);
  const fs::path out = testenv::makeDir("out");
  struct Tool {
    const char* tool;
    std::string command;  // run in src, writes A
  };
  const std::string py = "/usr/bin/python3 -c \"import os, sys, zipfile\n"
                         "z = zipfile.ZipFile(sys.argv[1] if sys.argv[2] != 'pipe' else sys.stdout.buffer, 'w', "
                         "zipfile.ZIP_STORED if sys.argv[2] == 'stored' else zipfile.ZIP_DEFLATED)\n"
                         "[z.write(os.path.join(d, f), os.path.relpath(os.path.join(d, f))) for d, _, fs in os.walk('.') for f in fs]\n"
                         "z.close()\" ";
  const Tool tools[] = {
      {"zip", "zip -q -r A ."},
      {"zip", "zip -q -0 -r A ."},
      {"zip", "zip -q -9 -r A ."},
      {"7zz", "7zz a -tzip -mmt1 A . >/dev/null"},
      {"bsdtar", "bsdtar -a -cf A *"},
      {"/usr/bin/python3", py + "A deflated"},
      {"/usr/bin/python3", py + "A stored"},
      {"/usr/bin/python3", py + "- pipe | cat > A"},
  };
  int n = 0;
  for (const Tool& t : tools) {
    SCOPED_TRACE(t.command);
    if (!HaveTool(t.tool)) {
      ADD_FAILURE() << t.tool << " missing: run scripts/install-deps.sh";
      continue;
    }
    const fs::path a = out / ("a" + std::to_string(n++) + ".zip");
    std::string command = t.command;
    command.replace(command.find(" A"), 2, " '" + a.string() + "'");
    ASSERT_EQ(Shell("cd '" + src.string() + "' && " + command), 0);
    ExpectSameFiles(UnpackAll(a), tree);
  }
}

TEST(EntryData, EntriesWeWriteAreReadByOtherTools) {
  const fs::path dir = testenv::makeDir("w");
  // Empty, tiny, exactly one work buffer at mode 1 (512 KB), several buffers, stored, level 0.
  const std::vector<Source> sources = {
      {"empty.txt", ""},
      {"tiny.txt", "x"},
      {"one-buffer.bin", Mixed(0x80000, 5), kMethodDeflated, 1},
      {"several/blocks.bin", Mixed(0x300001, 6), kMethodDeflated, 9},
      {"stored.bin", Mixed(70000, 7), kMethodStored, 0},
      {"level0.bin", Mixed(70000, 8), kMethodDeflated, 0},
      {"caf\xC3\xA9.txt", "accent\n"},
  };
  std::map<std::string, std::string> want;
  for (const Source& s : sources) want[s.name] = s.data;
  for (TZip64Mode zip64 : {zmAuto, zmAlways}) {
    SCOPED_TRACE(zip64 == zmAlways ? "zip64 always" : "zip64 auto");
    const fs::path a = dir / (zip64 == zmAlways ? "always.zip" : "auto.zip");
    const std::vector<TDirItem> items = WriteArchive(a, sources, zip64);
    ASSERT_EQ(items.size(), sources.size());
    EXPECT_EQ(items[0].CompressionMethod, kMethodStored);  // an empty source is stored
    EXPECT_EQ(items[0].Crc32, 0u);
    EXPECT_EQ(EffectiveCompressedSize(items[0]), 0);
    EXPECT_EQ(EffectiveCompressedSize(items[4]), 70000);
    EXPECT_EQ(items[0].HasZip64, zip64 == zmAlways);
    ExpectSameFiles(UnpackAll(a), want);
    if (HaveTool("unzip")) {
      EXPECT_EQ(Shell("unzip -tq '" + a.string() + "'"), 0);
    } else {
      ADD_FAILURE() << "unzip missing: run scripts/install-deps.sh";
    }
    EXPECT_EQ(Shell(PythonReads(a)), 0);
    // The contents as Python reads them.
    const fs::path x = dir / "x";
    fs::remove_all(x);
    ASSERT_EQ(Shell("/usr/bin/python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])\" '" +
                  a.string() + "' '" + x.string() + "'"),
              0);
    for (const auto& [name, data] : want) EXPECT_TRUE(testenv::readFile(x / name) == data) << name;
  }
}

TEST(EntryData, LocalHeaderAsWritten) {
  const fs::path a = testenv::makeDir("h") / "h.zip";
  const std::string data = Mixed(5000, 9);
  WriteArchive(a, {{"n.txt", data}});
  const std::string bytes = testenv::readFile(a);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  TZALocalHeader h;
  DecodeLocalHeader(p, h);
  EXPECT_EQ(h.Signature, kLocalHeaderSignature);
  EXPECT_EQ(h.VersionNeeded, 20);
  EXPECT_EQ(h.Flags & 0x0008, 0);
  EXPECT_EQ(h.CompressionMethod, kMethodDeflated);
  EXPECT_EQ(h.LastModTime, 0x6000);
  EXPECT_EQ(h.LastModDate, 0x58A6);
  EXPECT_EQ(h.Crc32, crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  EXPECT_EQ(h.UncompressedSize, 5000u);
  EXPECT_GT(h.CompressedSize, 0u);
  EXPECT_EQ(h.NameLength, 5);
  EXPECT_EQ(h.ExtraLength, 0);
  EXPECT_EQ(bytes.substr(30, 5), "n.txt");
  // The data ends where the next record starts.
  EXPECT_EQ(GetU32(p + 35 + h.CompressedSize), kCentralHeaderSignature);
}

// A stream that claims a size it does not have, for the 4 GiB decisions.
class HugeSource : public TZAMemoryStream {
 public:
  explicit HugeSource(int64_t size) : size_(size) {}
  int64_t Size() override { return size_; }
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::min(count, size_ - pos_);
    std::memset(buffer, 0, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Seek(int64_t offset, TZASeekOrigin origin) override {
    pos_ = origin == soBeginning ? offset : origin == soCurrent ? pos_ + offset : size_ + offset;
    return pos_;
  }

 private:
  int64_t size_;
  int64_t pos_ = 0;
};

TEST(EntryData, Zip64IsRefusedWhenDisabledAndReservedWhenTheDataCouldPass4GiB) {
  TZipArchiver z;
  TZAMemoryStream out;
  {
    TDirItem item;
    item.SetName("huge.bin");
    item.EditPending().SourceFileName = "/data/huge.bin";
    item.CompressionMethod = kMethodDeflated;
    HugeSource src(int64_t{5} << 30);
    z.Zip64Mode = zmDisabled;
    try {
      z.WriteItemHeaderAndData(out, item, &src);
      ADD_FAILURE() << "no exception";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 43);
      EXPECT_NE(std::string(e.what()).find("/data/huge.bin"), std::string::npos);
    }
    EXPECT_EQ(out.Size(), 0);  // nothing written
  }
  // Just below 4 GiB the deflate bound passes it: the Zip64 field is reserved up front.
  // A cancel after the first block leaves the first-pass header to look at.
  for (int64_t size : {int64_t{0xFFFFFFFF} - 1000, int64_t{0xFFFFFFFF}}) {
    SCOPED_TRACE(size);
    TDirItem item;
    item.SetName("big.bin");
    item.CompressionMethod = kMethodDeflated;
    item.EntryCompressionMode = 1;
    HugeSource src(size);
    z.Zip64Mode = zmAuto;
    z.FProgressEnabled = true;
    z.FCancel = false;
    int calls = 0;
    z.OnFileProgress = [&](TZABaseArchiver*, const std::string&, double, TZAProcessOperation, TZAProgressPhase,
                           bool& cancel) { cancel = ++calls > 1; };
    out.SetSize(0);
    EXPECT_FALSE(z.WriteItemHeaderAndData(out, item, &src));
    EXPECT_TRUE(z.FCancel);
    TZALocalHeader h;
    DecodeLocalHeader(out.Memory(), h);
    EXPECT_EQ(h.ExtraLength, 20);
    EXPECT_EQ(h.UncompressedSize, 0xFFFFFFFFu);
    EXPECT_EQ(h.VersionNeeded, 45);
  }
}

TEST(EntryData, CompressItemReportsAShortSourceAndACancel) {
  TZipArchiver z;
  z.Zip64Mode = zmAuto;
  TZAMemoryStream out;
  TDirItem item;
  item.SetName("short.bin");
  item.EditPending().SourceFileName = "short.bin";
  item.CompressionMethod = kMethodDeflated;
  item.EntryCompressionMode = 6;
  // The source says 3 MB and ends after 1 MB.
  class ShortSource : public HugeSource {
   public:
    ShortSource() : HugeSource(3 << 20) {}
    int64_t Read(void* buffer, int64_t count) override {
      const int64_t n = std::max<int64_t>(0, std::min(count, (1 << 20) - served_));
      std::memset(buffer, 'a', static_cast<size_t>(n));
      served_ += n;
      return n;
    }
    int64_t served_ = 0;
  } src;
  try {
    z.CompressItem(src, out, item);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 34);
    EXPECT_NE(std::string(e.what()).find("rfs.size = 3145728, count = 1048576"), std::string::npos) << e.what();
  }
}

namespace {

// One deflated entry built by hand, so every field can lie.
struct Crafted {
  std::string content = Mixed(200000, 11);
  std::string packed;
  zipbuilder::Builder b;
  std::string bytes;

  explicit Crafted(const std::string& trailing = "") {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    packed.resize(deflateBound(&zs, content.size()));
    zs.next_in = reinterpret_cast<Bytef*>(content.data());
    zs.avail_in = static_cast<uInt>(content.size());
    zs.next_out = reinterpret_cast<Bytef*>(packed.data());
    zs.avail_out = static_cast<uInt>(packed.size());
    deflate(&zs, Z_FINISH);
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    packed += trailing;
    zipbuilder::Entry e;
    e.name = "data.bin";
    e.data = packed;
    b.add(e);
    bytes = b.finish();
    const size_t c = b.centralAt[0];
    // Method 8, the real CRC and size of the content.
    zipbuilder::patch(bytes, c + 10, 8, 2);
    zipbuilder::patch(bytes, c + 16, zipbuilder::crcOf(content), 4);
    zipbuilder::patch(bytes, c + 24, content.size(), 4);
  }
  size_t central() const { return b.centralAt[0]; }
  fs::path write(const std::string& name) { return testenv::writeFile(testenv::testRoot() / name, bytes); }
};

}  // namespace

TEST(EntryData, DamagedAndHostileEntriesTable) {
  struct Case {
    const char* name;
    std::string trailing;
    void (*bend)(Crafted&);
    bool ok;
    TZADataStatus status;
  };
  const Case cases[] = {
      {"as made", "", [](Crafted&) {}, true, TZADataStatus::Ok},
      {"bytes after the deflate stream", std::string(3000, 'Z'), [](Crafted&) {}, true, TZADataStatus::Ok},
      {"compressed size runs past the directory",
       "",
       [](Crafted& c) { zipbuilder::patch(c.bytes, c.central() + 20, c.packed.size() + 5000, 4); },
       true,
       TZADataStatus::Ok},
      {"declared size smaller (a bomb)",
       "",
       [](Crafted& c) { zipbuilder::patch(c.bytes, c.central() + 24, 1000, 4); },
       false,
       TZADataStatus::TooLong},
      {"declared size larger",
       "",
       [](Crafted& c) { zipbuilder::patch(c.bytes, c.central() + 24, c.content.size() + 1, 4); },
       false,
       TZADataStatus::SizeMismatch},
      {"wrong crc",
       "",
       [](Crafted& c) { zipbuilder::patch(c.bytes, c.central() + 16, zipbuilder::crcOf(c.content) ^ 4, 4); },
       false,
       TZADataStatus::CrcMismatch},
      {"compressed size cut short",
       "",
       [](Crafted& c) { zipbuilder::patch(c.bytes, c.central() + 20, c.packed.size() / 2, 4); },
       false,
       TZADataStatus::InflateError},
      {"bad local signature", "", [](Crafted& c) { c.bytes[0] = 'Q'; }, false, TZADataStatus::BadLocalHeader},
      {"method 1, version 10",
       "",
       [](Crafted& c) {
         zipbuilder::patch(c.bytes, c.central() + 10, 1, 2);
         zipbuilder::patch(c.bytes, c.central() + 6, 10, 2);
       },
       false,
       TZADataStatus::UnsupportedMethod},
      // Other methods go to the block format, whose header deflate data is not.
      {"method 12, version 46",
       "",
       [](Crafted& c) {
         zipbuilder::patch(c.bytes, c.central() + 10, 12, 2);
         zipbuilder::patch(c.bytes, c.central() + 6, 46, 2);
       },
       false,
       TZADataStatus::SizeMismatch},
      {"AES, encrypted flag",
       "",
       [](Crafted& c) {
         zipbuilder::patch(c.bytes, c.central() + 10, 99, 2);
         zipbuilder::patch(c.bytes, c.central() + 8, 1, 2);
       },
       false,
       TZADataStatus::SizeMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Crafted craft(c.trailing);
    c.bend(craft);
    TZipArchiver z;
    int prompts = 0;
    z.OnPassword = [&](TZABaseArchiver*, const std::string&, std::string&, bool& skip) {
      ++prompts;
      skip = true;
    };
    Open(z, craft.write("c.zip"));
    if (!z.FDirManager) continue;
    std::string content;
    EXPECT_EQ(Unpack(z, 0, content), c.ok);
    EXPECT_EQ(z.FLastDataStatus, c.status) << DataStatusText(z.FLastDataStatus);
    EXPECT_EQ(prompts, 0);
    const int64_t declared = EffectiveUncompressedSize(z.FDirManager->CurrentDir.DirItemAt(0));
    EXPECT_LE(static_cast<int64_t>(content.size()), declared);
    if (c.status == TZADataStatus::CrcMismatch) {
      EXPECT_TRUE(content == craft.content);  // what was written stays
    }
  }
}

TEST(EntryData, Deflate64RaisesCode55) {
  Crafted craft;
  zipbuilder::patch(craft.bytes, craft.central() + 10, 9, 2);
  TZipArchiver z;
  Open(z, craft.write("d64.zip"));
  ASSERT_TRUE(z.FDirManager);
  std::string content;
  try {
    Unpack(z, 0, content);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 55);
  }
}

TEST(EntryData, ProgressRunsFromZeroAndCancelStopsTheEntry) {
  const fs::path a = testenv::makeDir("p") / "p.zip";
  const std::string data = Mixed(6 << 20, 12);
  WriteArchive(a, {{"big.bin", data, kMethodStored, 0}});
  TZipArchiver z;
  Open(z, a);
  ASSERT_TRUE(z.FDirManager);
  z.FProgressEnabled = true;
  z.FSelectedCount = 2;
  z.FItemsDone = 1;
  std::vector<double> file, overall;
  z.OnFileProgress = [&](TZABaseArchiver*, const std::string& name, double p, TZAProcessOperation, TZAProgressPhase phase,
                         bool&) {
    EXPECT_EQ(name, "big.bin");
    EXPECT_EQ(phase, ppProcess);
    file.push_back(p);
  };
  z.OnOverallProgress = [&](TZABaseArchiver*, double p, TZAProcessOperation, TZAProgressPhase, bool&) {
    overall.push_back(p);
  };
  std::string content;
  EXPECT_TRUE(Unpack(z, 0, content));
  ASSERT_GE(file.size(), 2u);
  EXPECT_EQ(file.front(), 0.0);
  EXPECT_TRUE(std::is_sorted(file.begin(), file.end()));
  EXPECT_LT(file.back(), 100.0);
  EXPECT_EQ(overall.front(), 50.0);
  EXPECT_LE(overall.back(), 100.0);

  file.clear();
  z.OnFileProgress = [&](TZABaseArchiver*, const std::string&, double p, TZAProcessOperation, TZAProgressPhase,
                         bool& cancel) {
    file.push_back(p);
    cancel = file.size() == 2;
  };
  EXPECT_FALSE(Unpack(z, 0, content));
  EXPECT_EQ(z.FLastDataStatus, TZADataStatus::Cancelled);
  EXPECT_TRUE(z.FCancel);
  EXPECT_EQ(file.size(), 2u);
  EXPECT_LT(content.size(), data.size());
}

TEST(EntryData, OverlappingEntriesAreRefusedAtOpen) {
  // Two central entries share one local header and its data (the overlapped bomb), and a
  // third starts inside the first one's data.
  zipbuilder::Builder b;
  zipbuilder::Entry e;
  e.name = "kernel.bin";
  e.data = std::string(5000, 'k');
  b.add(e);
  zipbuilder::Entry again = b.entries[0];
  again.name = "again.bin";
  b.entries.push_back(again);
  const std::string shared = b.finish();

  zipbuilder::Builder c;
  c.add(e);
  zipbuilder::Entry inside = c.entries[0];
  inside.name = "inside.bin";
  inside.offset += 100;
  c.entries.push_back(inside);
  const std::string nested = c.finish();

  zipbuilder::Builder d;
  d.add(e);
  e.name = "next.bin";
  d.add(e);
  const std::string sound = d.finish();

  for (const auto& [name, bytes, refused] : {std::tuple{"shared", shared, true}, std::tuple{"nested", nested, true},
                                             std::tuple{"sound", sound, false}}) {
    SCOPED_TRACE(name);
    TZipArchiver z;
    z.FileName = testenv::writeFile(testenv::testRoot() / (std::string(name) + ".zip"), bytes).string();
    if (refused) {
      try {
        z.OpenArchiveMode(kOpenReadDenyNone);
        ADD_FAILURE() << "opened";
      } catch (const EZAException& ex) {
        EXPECT_EQ(ex.NativeError, 35);
      }
      EXPECT_FALSE(z.Active());
    } else {
      EXPECT_NO_THROW(z.OpenArchiveMode(kOpenReadDenyNone));
      EXPECT_TRUE(z.Active());
    }
  }
}
