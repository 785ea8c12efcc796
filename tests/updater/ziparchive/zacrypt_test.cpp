// Traditional encryption: the cipher itself, and archives enciphered by zip and 7zz.
#include "updater/ziparchive/zacrypt.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ourarchive.h"
#include "tests/updater/ziparchive/peertools.h"
#include "tests/updater/ziparchive/ziptestkit.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zarecords.h"

namespace fs = std::filesystem;
using namespace ziparchive;
using namespace ziptestkit;
using ourarchive::WrongPasswordFor;

namespace {

// A header as a writer makes it: ten filler bytes, then the two given bytes, enciphered.
std::vector<uint8_t> Header(const std::string& password, uint8_t b10, uint8_t b11) {
  std::vector<uint8_t> h = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, b10, b11};
  TZACryptKeys keys;
  ZipCryptInitKeys(password, keys);
  ZipCryptEncodeRange(h.size(), 0, h.data(), keys);
  return h;
}

}  // namespace

TEST(ZipCrypt, CheckBytePicksCrcOrTimeByFlagBit3) {
  const uint32_t crc = 0xAB123456;
  const uint16_t time = 0x7C21;
  struct Case {
    uint8_t checkByte;
    uint16_t flags;
    const char* password;
    bool fits;
  } cases[] = {
      {0xAB, 1, "secret", true},  {0x7C, 1, "secret", false}, {0x7C, 9, "secret", true},
      {0xAB, 9, "secret", false}, {0xAB, 1, "", true},          // an empty password is a password like any other
  };
  for (const auto& c : cases) {
    const auto h = Header(c.password, 0x12, c.checkByte);
    TZACryptKeys keys;
    EXPECT_EQ(CheckItemPassword(h.data(), c.password, keys, crc, time, c.flags), c.fits)
        << int(c.checkByte) << " flags " << c.flags << " '" << c.password << "'";
  }
  // The keys run on into the data: a byte enciphered after the header comes back.
  TZACryptKeys enc;
  std::vector<uint8_t> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x34, 0xAB, 'x', 'y', 'z'};
  ZipCryptInitKeys("pw", enc);
  ZipCryptEncodeRange(all.size(), 0, all.data(), enc);
  TZACryptKeys dec;
  ASSERT_TRUE(CheckItemPassword(all.data(), "pw", dec, crc, time, 1));
  ZipCryptDecodeBuffer(all.data() + 12, 3, dec);
  EXPECT_EQ(std::string(all.begin() + 12, all.end()), "xyz");
}

class ZipCryptPeer : public ::testing::Test {
 protected:
  fs::path root, src, base, archive;
  std::string big;

  void SetUp() override {
    if (Shell("command -v zip >/dev/null") != 0) GTEST_SKIP() << "zip missing (scripts/install-deps.sh installs it)";
    root = testenv::testRoot();
    src = testenv::makeDir("src");
    base = testenv::makeDir("base");
    for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i * 7919 % 1000) + "\n";
    testenv::writeFile(src / "big.txt", big);
    testenv::writeFile(src / "small.bin", std::string("\x01\x02\xff", 3));
    testenv::writeFile(src / "empty", "");
    archive = root / "enc.zip";
    ASSERT_EQ(Shell("cd '" + src.string() + "' && zip -q -P secret '" + archive.string() +
                    "' big.txt small.bin empty"),
              0);
  }

  TZABatchResult Extract(TZipArchiver& zip) {
    zip.FileName = archive.string();
    zip.OpenArchive();
    zip.BaseDir = base.string();
    return zip.ExtractFiles("*.*", 0x28BF, "");
  }
};

TEST_F(ZipCryptPeer, RightPasswordExtractsEveryEntry) {
  // zip checks against the DOS time (sizes after the data), 7zz against the CRC.
  const std::string files = "' big.txt small.bin empty >/dev/null";
  const std::string makers[] = {"zip -q -0 -P secret '", "zip -q -9 -P secret '",
                                "7zz a -tzip -psecret -mem=ZipCrypto -mx=5 '"};
  for (const std::string& level : makers) {
    if (level.rfind("7zz", 0) == 0 && Shell("command -v 7zz >/dev/null") != 0) {
      GTEST_SKIP() << "7zz missing (scripts/install-deps.sh installs it)";
    }
    fs::remove_all(base);
    fs::create_directory(base);
    fs::remove(archive);
    ASSERT_EQ(Shell("cd '" + src.string() + "' && " + level + archive.string() + files), 0);
    TZipArchiver zip;
    zip.Password = "secret";
    int prompts = 0;
    zip.OnPassword = [&](TZABaseArchiver*, const std::string&, std::string&, bool& skip) {
      ++prompts;
      skip = true;
    };
    const TZABatchResult r = Extract(zip);
    EXPECT_TRUE(r.Succeeded()) << level;
    EXPECT_EQ(r.Done, 3) << level;
    EXPECT_EQ(prompts, 0) << level;
    EXPECT_EQ(testenv::readFile(base / "big.txt"), big) << level;
    EXPECT_EQ(testenv::readFile(base / "small.bin"), std::string("\x01\x02\xff", 3)) << level;
    EXPECT_TRUE(fs::exists(base / "empty")) << level;
    EXPECT_EQ(fs::file_size(base / "empty"), 0u) << level;
  }
}

TEST_F(ZipCryptPeer, WrongPasswordPromptsThenTakesTheNewOne) {
  TZipArchiver zip;
  zip.Password = WrongPasswordFor(archive);
  std::vector<std::string> asked;
  zip.OnPassword = [&](TZABaseArchiver*, const std::string& name, std::string& password, bool&) {
    asked.push_back(name);
    password = "secret";
  };
  const TZABatchResult r = Extract(zip);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.Done, 3);
  ASSERT_EQ(asked.size(), 1u);  // the password given for the first entry opens the others
  EXPECT_EQ(zip.Password, "secret");
  EXPECT_EQ(testenv::readFile(base / "big.txt"), big);
}

TEST_F(ZipCryptPeer, WrongPasswordFailsCleanly) {
  {
    // The handler gives up: every entry is skipped, nothing is written, no failure is raised.
    TZipArchiver zip;
    zip.Password = WrongPasswordFor(archive);
    int failures = 0;
    zip.OnPassword = [](TZABaseArchiver*, const std::string&, std::string&, bool& skip) { skip = true; };
    zip.OnProcessFileFailure = [&](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t, int32_t,
                                   const std::string&, TZAAction&) { ++failures; };
    const TZABatchResult r = Extract(zip);
    EXPECT_EQ(r.Done, 0);
    EXPECT_EQ(r.Skipped, 3);
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(fs::is_empty(base)) << TreeOf(base).size();
  }
  {
    // The default dialog cancelled: the same.
    TZipArchiver zip;
    zip.Password = WrongPasswordFor(archive);
    const TZABatchResult r = Extract(zip);
    EXPECT_EQ(r.Done, 0);
    EXPECT_EQ(r.Skipped, 3);
    EXPECT_TRUE(fs::is_empty(base));
  }
  {
    // No prompt: the wrong password deciphers garbage, the data checks fail, nothing is kept.
    TZipArchiver zip;
    zip.Password = "wrong";
    zip.FSuppressPasswordEvent = true;
    std::vector<int32_t> codes;
    zip.OnProcessFileFailure = [&](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t native,
                                   int32_t, const std::string&, TZAAction&) { codes.push_back(native); };
    const TZABatchResult r = Extract(zip);
    // The empty entry has no data to get wrong: it comes out right with any password.
    EXPECT_FALSE(r.Succeeded());
    EXPECT_EQ(r.Done, 1);
    EXPECT_EQ(r.Failed, 2);
    EXPECT_EQ(codes, (std::vector<int32_t>{8, 8}));
    EXPECT_EQ(TreeOf(base), (std::vector<std::string>{"empty"}));
  }
}

namespace {

// Text and noise, so deflate has work at every level and several work buffers are needed.
std::string Mixed(size_t n, unsigned seed) {
  std::string s;
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    if (x % 3) {
      s += "journal line " + std::to_string(x % 5000) + "\n";
    } else {
      for (int i = 0; i < 64; ++i) s.push_back(static_cast<char>((x >> (i % 24)) ^ i));
    }
  }
  s.resize(n);
  return s;
}

const char kPassword[] = "s3cr\xC3\xA9t";  // bytes as they stand, UTF-8 included

// Encrypted entries of every kind, one plain entry, and two twins that share content and password.
std::vector<ourarchive::Source> EncryptedSources() {
  using ourarchive::Source;
  return {
      {"empty.txt", "", kMethodDeflated, 6, kPassword},
      {"small.txt", "hello\n", kMethodDeflated, 6, kPassword},
      {"mixed.bin", Mixed(300000, 1), kMethodDeflated, 1, kPassword},
      {"blocks.bin", Mixed(0x180000 * 2 + 7, 2), kMethodDeflated, 9, kPassword},
      {"stored.bin", Mixed(70000, 3), kMethodStored, 0, kPassword},
      {"plain.txt", "not enciphered\n", kMethodDeflated, 6, ""},
      {"twin1.txt", "same bytes, same password\n", kMethodDeflated, 6, kPassword},
      {"twin2.txt", "same bytes, same password\n", kMethodDeflated, 6, kPassword},
  };
}

std::map<std::string, std::string> TreeContents(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const std::string& name : TreeOf(root)) {
    if (name.back() != '/') files[name] = testenv::readFile(root / name);
  }
  return files;
}

// Compares by name and content without printing megabytes.
void ExpectFiles(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want,
                 const std::string& who) {
  EXPECT_EQ(got.size(), want.size()) << who;
  for (const auto& [name, data] : want) {
    const auto it = got.find(name);
    EXPECT_TRUE(it != got.end() && it->second == data) << who << ": " << name;
  }
}

}  // namespace

TEST(ZipCryptWrite, EntriesWeEncipherOpenWithThePasswordInOursAndThePeers) {
  const fs::path archive = testenv::testRoot() / "ours.zip";
  const auto sources = EncryptedSources();
  ourarchive::WriteArchive(archive, sources);
  std::map<std::string, std::string> want;
  for (const auto& s : sources) want[s.name] = s.data;
  const std::string pw = peertools::Quote(kPassword);
  const std::string a = peertools::Quote(archive.string());
  struct Reader {
    const char* tool;
    std::string command;  // extracts into the folder OUT
  };
  const Reader readers[] = {
      {"unzip", "unzip -q -P " + pw + " " + a + " -d OUT"},
      {"7zz", "7zz x -p" + pw + " -oOUT " + a},
      {"/usr/bin/python3",
       "/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2], "
       "pwd=sys.argv[3].encode(\"utf-8\", \"surrogateescape\"))' " + a + " OUT " + pw},
  };
  int n = 0;
  for (const Reader& r : readers) {
    SCOPED_TRACE(r.tool);
    if (!peertools::Have(r.tool)) {
      ADD_FAILURE() << r.tool << " missing: run scripts/install-deps.sh";
      continue;
    }
    const fs::path out = testenv::makeDir("out" + std::to_string(n++));
    std::string command = r.command, output;
    command.replace(command.find("OUT"), 3, peertools::Quote(out.string()));
    ASSERT_EQ(peertools::Run(command, output), 0) << output;
    ExpectFiles(TreeContents(out), want, r.tool);
  }
  // Ours, with the password.
  const fs::path base = testenv::makeDir("ours");
  TZipArchiver zip;
  zip.Password = kPassword;
  zip.OnPassword = [](TZABaseArchiver*, const std::string& name, std::string&, bool& skip) {
    ADD_FAILURE() << "prompted for " << name;
    skip = true;
  };
  zip.FileName = archive.string();
  zip.OpenArchive();
  zip.BaseDir = base.string();
  const TZABatchResult r = zip.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_TRUE(r.Succeeded());
  ExpectFiles(TreeContents(base), want, "ours");
}

TEST(ZipCryptWrite, AWrongPasswordSkipsTheEncipheredEntries) {
  const fs::path archive = testenv::testRoot() / "ours.zip";
  const auto sources = EncryptedSources();
  ourarchive::WriteArchive(archive, sources);
  const std::string wrong = WrongPasswordFor(archive);
  {
    const fs::path base = testenv::makeDir("ours");
    TZipArchiver zip;
    zip.Password = wrong;
    std::vector<std::string> asked;
    int failures = 0;
    zip.OnPassword = [&](TZABaseArchiver*, const std::string& name, std::string&, bool& skip) {
      asked.push_back(name);
      skip = true;
    };
    zip.OnProcessFileFailure = [&](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t, int32_t,
                                   const std::string&, TZAAction&) { ++failures; };
    zip.FileName = archive.string();
    zip.OpenArchive();
    zip.BaseDir = base.string();
    const TZABatchResult r = zip.ExtractFiles("*.*", 0x28BF, "");
    EXPECT_EQ(r.Done, 1);
    EXPECT_EQ(r.Skipped, static_cast<int>(sources.size()) - 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(asked.size(), sources.size() - 1);
    EXPECT_EQ(TreeOf(base), (std::vector<std::string>{"plain.txt"}));
  }
  // The peers refuse the enciphered entries too.
  const std::string a = peertools::Quote(archive.string());
  const std::string commands[] = {
      "unzip -o -q -P " + wrong + " " + a + " small.txt -d " + peertools::Quote(testenv::makeDir("u").string()),
      "7zz x -y -p" + wrong + " -o" + peertools::Quote(testenv::makeDir("7").string()) + " " + a + " small.txt",
      "/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).read(\"small.txt\", pwd=sys.argv[2].encode())' " +
          a + " " + wrong,
  };
  for (const std::string& command : commands) {
    std::string output;
    EXPECT_NE(peertools::Run(command, output), 0) << command << "\n" << output;
  }
}

TEST(ZipCryptWrite, HeaderCarriesTheCrcAndFreshRandomBytesPerEntry) {
  const fs::path archive = testenv::testRoot() / "h.zip";
  const auto sources = EncryptedSources();
  const std::vector<TDirItem> items = ourarchive::WriteArchive(archive, sources);
  const std::string bytes = testenv::readFile(archive);
  auto data = [&](const TDirItem& e) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + e.LocalHeaderOffset;
    const size_t at = e.LocalHeaderOffset + 30 + GetU16(p + 26) + GetU16(p + 28);
    return bytes.substr(at, e.CompressedSize);
  };
  std::vector<std::string> headers;
  for (size_t i = 0; i < items.size(); ++i) {
    const TDirItem& e = items[i];
    SCOPED_TRACE(std::string(e.Name()));
    const bool enciphered = !sources[i].password.empty();
    EXPECT_EQ(e.Flags & 1, enciphered ? 1 : 0);
    EXPECT_EQ(e.Flags & 8, 0);
    if (!enciphered) continue;
    const std::string d = data(e);
    ASSERT_GE(d.size(), kCryptHeaderSize);
    std::string header = d.substr(0, kCryptHeaderSize);
    headers.push_back(header);
    TZACryptKeys keys;
    ZipCryptInitAndCheckHeader(kPassword, keys, reinterpret_cast<uint8_t*>(header.data()));
    EXPECT_EQ(static_cast<uint8_t>(header[10]), static_cast<uint8_t>(e.Crc32 >> 16));
    EXPECT_EQ(static_cast<uint8_t>(header[11]), static_cast<uint8_t>(e.Crc32 >> 24));
  }
  // The empty file: the header alone, CRC 0, stored.
  EXPECT_EQ(items[0].CompressedSize, kCryptHeaderSize);
  EXPECT_EQ(items[0].Crc32, 0u);
  EXPECT_EQ(items[0].CompressionMethod, kMethodStored);
  // The stored entry: its size plus the header.
  EXPECT_EQ(items[4].CompressedSize, sources[4].data.size() + kCryptHeaderSize);
  // No two entries share their random bytes, the twins included: their data differ throughout.
  for (size_t i = 0; i < headers.size(); ++i) {
    for (size_t j = i + 1; j < headers.size(); ++j) EXPECT_NE(headers[i].substr(0, 10), headers[j].substr(0, 10));
  }
  EXPECT_NE(data(items[6]).substr(kCryptHeaderSize), data(items[7]).substr(kCryptHeaderSize));
}

namespace {

// A source whose bytes change once they have all been read (a file rewritten while it is added).
class ChangingSource : public TZAMemoryStream {
 public:
  explicit ChangingSource(const std::string& data) { WriteBuffer(data.data(), static_cast<int64_t>(data.size())); }
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = TZAMemoryStream::Read(buffer, count);
    if (n > 0 && Position() == Size() && ++passes_ == 1) static_cast<uint8_t*>(Memory())[0] ^= 0x55;
    return n;
  }

 private:
  int passes_ = 0;
};

}  // namespace

TEST(ZipCryptWrite, ASourceThatChangesBetweenThePassesOrACancelStopsTheEntry) {
  TZipArchiver z;
  TDirItem item;
  item.SetName("moving.txt");
  item.CompressionMethod = kMethodDeflated;
  item.EntryCompressionMode = 6;
  item.EditPending().EntryPassword = "pw";
  {
    ChangingSource src(Mixed(5000, 4));
    TZAMemoryStream out;
    try {
      z.CompressItem(src, out, item);
      ADD_FAILURE() << "no exception";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 8);
    }
  }
  {
    // Cancelled while the CRC is taken: nothing is written, no failure.
    TZAMemoryStream src;
    const std::string data = Mixed(3 << 20, 5);
    src.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    TZAMemoryStream out;
    z.FProgressEnabled = true;
    z.OnFileProgress = [](TZABaseArchiver*, const std::string&, double, TZAProcessOperation, TZAProgressPhase,
                          bool& cancel) { cancel = true; };
    EXPECT_FALSE(z.CompressItem(src, out, item));
    EXPECT_TRUE(z.FCancel);
    EXPECT_EQ(out.Size(), 0);
  }
}
