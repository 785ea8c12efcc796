// Traditional encryption: the cipher itself, and archives enciphered by zip and 7zz.
#include "updater/ziparchive/zacrypt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ziptestkit.h"
#include "updater/ziparchive/zaarchiver.h"

namespace fs = std::filesystem;
using namespace ziparchive;
using namespace ziptestkit;

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
  zip.Password = "wrong";
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
    zip.Password = "wrong";
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
    zip.Password = "wrong";
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
