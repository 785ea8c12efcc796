// The block format: entries built here from its header layout decode; damaged ones fail.
#include "updater/ziparchive/zablocks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ourarchive.h"
#include "tests/updater/ziparchive/zipbuilder.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"

using namespace ziparchive;
namespace fs = std::filesystem;
using ourarchive::Unpack;

namespace {

std::string Content(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "block line " + std::to_string(i * 7919 % 3001) + "\n";
  s.resize(n);
  return s;
}

std::string Zlib(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uLong>(data.size()), 6);
  out.resize(size);
  return out;
}

// One entry in the block format: its content, cut into blocks of blockSize bytes.
struct BlockEntry {
  std::string content;
  uint32_t blockSize = 65536;
  bool compressed = true;
  uint16_t cipherId = kBlockNotEnciphered;
  bool checkFits = true;  // the CRC of the check bytes is right
  uint16_t method = 12;
  uint16_t versionNeeded = 46;
  bool zip64Size = false;  // the directory gives the size in its Zip64 field; the header's is 0

  std::vector<std::string> blocks() const {
    std::vector<std::string> out;
    for (size_t at = 0; at < content.size(); at += blockSize) out.push_back(content.substr(at, blockSize));
    return out;
  }

  std::string data() const {
    TZABlockHeader h;
    h.BlockSize = blockSize;
    h.TotalSize = zip64Size ? 0 : static_cast<uint32_t>(content.size());
    h.BlockCount = static_cast<uint32_t>(blocks().size());
    h.Compressed = compressed;
    h.CipherId = cipherId;
    for (int i = 0; i < 16; ++i) h.Check[i] = static_cast<uint8_t>(i * 13 + 1);
    h.CheckCrc = static_cast<uint32_t>(crc32(0, h.Check, 16)) ^ (checkFits ? 0 : 1);
    std::string s(kBlockHeaderSize, '\0');
    EncodeBlockHeader(h, reinterpret_cast<uint8_t*>(s.data()));
    for (const std::string& b : blocks()) {
      const std::string packed = compressed ? Zlib(b) : b;
      zipbuilder::put32(s, static_cast<uint32_t>(packed.size()));
      s += packed;
    }
    return s;
  }
};

// An archive of the entries named b0, b1, ...; the central headers carry the contents' CRC and size.
struct BlockArchive {
  zipbuilder::Builder b;
  std::string bytes;
  std::vector<size_t> dataAt;  // where each entry's block data starts

  explicit BlockArchive(const std::vector<BlockEntry>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      zipbuilder::Entry e = zipbuilder::fileEntry("b" + std::to_string(i), entries[i].data());
      if (entries[i].zip64Size) {
        std::string size;
        zipbuilder::put64(size, entries[i].content.size());
        e.centralExtra = zipbuilder::extraField(kZip64ExtraId, size);
      }
      dataAt.push_back(b.bytes.size() + 30 + e.name.size());
      b.add(e);
    }
    bytes = b.finish();
    for (size_t i = 0; i < entries.size(); ++i) {
      const size_t c = b.centralAt[i];
      zipbuilder::patch(bytes, c + 6, entries[i].versionNeeded, 2);
      zipbuilder::patch(bytes, c + 10, entries[i].method, 2);
      zipbuilder::patch(bytes, c + 16, zipbuilder::crcOf(entries[i].content), 4);
      zipbuilder::patch(bytes, c + 24, entries[i].zip64Size ? 0xFFFFFFFF : entries[i].content.size(), 4);
    }
  }
  fs::path write() const { return testenv::writeFile(testenv::testRoot() / "blocks.zip", bytes); }
};


}  // namespace

TEST(BlockFormat, EntriesBuiltFromTheHeaderLayoutDecodeAndDamagedOnesFail) {
  const std::string text = Content(300000);
  struct Case {
    const char* name;
    BlockEntry entry;
    void (*bend)(BlockArchive&);  // damage after building
    TZADataStatus status;
  };
  auto entry = [&](auto change) {
    BlockEntry e;
    e.content = text;
    change(e);
    return e;
  };
  auto none = [](BlockArchive&) {};
  const Case cases[] = {
      {"compressed blocks, the last one shorter", entry([](BlockEntry&) {}), none, TZADataStatus::Ok},
      {"one block of the whole entry", entry([](BlockEntry& e) { e.blockSize = 300000; }), none, TZADataStatus::Ok},
      {"stored blocks", entry([](BlockEntry& e) { e.compressed = false; }), none, TZADataStatus::Ok},
      {"no block, empty entry", entry([](BlockEntry& e) { e.content.clear(); }), none, TZADataStatus::Ok},
      {"size from the directory's Zip64 field", entry([](BlockEntry& e) { e.zip64Size = true; }), none,
       TZADataStatus::Ok},
      {"enciphered, check bytes fit", entry([](BlockEntry& e) { e.cipherId = 0x0103; }), none, TZADataStatus::Ok},
      {"version needed 10", entry([](BlockEntry& e) { e.versionNeeded = 10; }), none,
       TZADataStatus::UnsupportedMethod},
      {"a block byte flipped", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { a.bytes[a.dataAt[0] + kBlockHeaderSize + 4 + 100] ^= 0x40; },
       TZADataStatus::InflateError},
      {"algorithm 1", entry([](BlockEntry&) {}), [](BlockArchive& a) { a.bytes[a.dataAt[0] + 20] = 1; },
       TZADataStatus::UnsupportedMethod},
      {"more blocks than there are", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.dataAt[0] + 16, 6, 4); }, TZADataStatus::TooLong},
      {"fewer blocks than there are", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.dataAt[0] + 16, 4, 4); }, TZADataStatus::SizeMismatch},
      {"a block length of 4 GiB", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.dataAt[0] + kBlockHeaderSize, 0xFFFFFFFF, 4); },
       TZADataStatus::InflateError},
      {"a block size past the entry's size (a bomb)", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.dataAt[0], 0x7FFFFFFF, 4); }, TZADataStatus::TooLong},
      {"an empty compressed block", entry([](BlockEntry& e) { e.content = "x"; }),
       [](BlockArchive& a) {
         const size_t at = a.dataAt[0] + kBlockHeaderSize;
         const uint32_t length = GetU32(reinterpret_cast<const uint8_t*>(a.bytes.data()) + at);
         zipbuilder::patch(a.bytes, at, 0, 4);
         a.bytes.erase(at + 4, length);
         zipbuilder::patch(a.bytes, a.b.centralAt[0] - length + 20, kBlockHeaderSize + 4, 4);
       },
       TZADataStatus::InflateError},
      {"blocks that inflate past the block size", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.dataAt[0], 1000, 4); }, TZADataStatus::InflateError},
      {"total size in the header too small", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.dataAt[0] + 8, 1000, 4); }, TZADataStatus::SizeMismatch},
      {"wrong crc in the directory", entry([](BlockEntry&) {}),
       [](BlockArchive& a) { a.bytes[a.b.centralAt[0] + 16] ^= 1; }, TZADataStatus::CrcMismatch},
      {"header cut short", entry([](BlockEntry& e) { e.content = "x"; e.compressed = false; }),
       [](BlockArchive& a) { zipbuilder::patch(a.bytes, a.b.centralAt[0] + 20, 20, 4); }, TZADataStatus::ReadShort},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlockArchive archive({c.entry});
    c.bend(archive);
    TZipArchiver z;
    int prompts = 0;
    z.OnPassword = [&](TZABaseArchiver*, const std::string&, std::string&, bool& skip) {
      ++prompts;
      skip = true;
    };
    z.FileName = archive.write().string();
    z.OpenArchiveMode(kOpenReadDenyNone);
    ASSERT_TRUE(z.FDirManager);
    std::string content;
    EXPECT_EQ(Unpack(z, 0, content), c.status == TZADataStatus::Ok);
    EXPECT_EQ(z.FLastDataStatus, c.status) << DataStatusText(z.FLastDataStatus);
    if (c.status == TZADataStatus::Ok) {
      EXPECT_TRUE(content == c.entry.content) << content.size();
    }
    EXPECT_LE(content.size(), c.entry.content.size());
    EXPECT_EQ(prompts, 0);
  }
}

TEST(BlockFormat, CheckBytesThatDoNotFitAskOnceForThePassword) {
  BlockEntry e;
  e.content = Content(1000);
  e.cipherId = 0x0101;
  e.checkFits = false;
  BlockArchive archive({e});
  for (bool skip : {true, false}) {
    SCOPED_TRACE(skip);
    TZipArchiver z;
    int prompts = 0;
    z.OnPassword = [&](TZABaseArchiver*, const std::string& name, std::string& password, bool& skipFile) {
      EXPECT_EQ(name, "b0");
      ++prompts;
      password = "another";
      skipFile = skip;
    };
    z.FileName = archive.write().string();
    z.OpenArchiveMode(kOpenReadDenyNone);
    std::string content;
    EXPECT_FALSE(Unpack(z, 0, content));
    EXPECT_EQ(z.FLastDataStatus, TZADataStatus::Unreadable);
    EXPECT_EQ(z.FSkip, skip);
    EXPECT_EQ(prompts, 1);
    EXPECT_TRUE(content.empty());
  }
}

TEST(BlockFormat, ExtractionWritesTheGoodEntryAndReportsTheDamagedOneWithCode8) {
  BlockEntry good, bad;
  good.content = Content(200000);
  bad.content = Content(150000);
  BlockArchive archive({good, bad});
  archive.bytes[archive.dataAt[1] + kBlockHeaderSize + 4 + 50] ^= 0x10;
  const fs::path base = testenv::makeDir("out");
  TZipArchiver z;
  z.FileName = archive.write().string();
  z.OpenArchive();
  z.BaseDir = base.string();
  std::vector<std::pair<std::string, int32_t>> failures;
  z.OnProcessFileFailure = [&](TZABaseArchiver*, const std::string& name, TZAProcessOperation, int32_t native,
                               int32_t, const std::string&, TZAAction&) { failures.emplace_back(name, native); };
  const TZABatchResult r = z.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_EQ(r.Done, 1);
  EXPECT_EQ(failures, (std::vector<std::pair<std::string, int32_t>>{{"b1", 8}}));
  EXPECT_TRUE(testenv::readFile(base / "b0") == good.content);
  EXPECT_FALSE(fs::exists(base / "b1"));
}

TEST(BlockFormat, TheFixtureWrittenByTheFixtureScriptDecodes) {
  // tests/fixtures/zip/make-fixtures.sh lays the blocks out with Python's struct and zlib.
  TZipArchiver z;
  z.FileName = (testenv::fixtures() / "zip" / "blocks.zip").string();
  z.OpenArchiveMode(kOpenReadDenyNone);
  ASSERT_EQ(z.FDirManager->CurrentDir.DirItemCount(), 1);
  std::string want;
  for (int i = 0; i < 1000; ++i) want.push_back(static_cast<char>(i % 251));
  std::string content;
  EXPECT_TRUE(Unpack(z, 0, content)) << DataStatusText(z.FLastDataStatus);
  EXPECT_TRUE(content == want);
}
