#include "updater/signature.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/testenv.h"
#include "tests/updater/window/testkey.h"

namespace fs = std::filesystem;
using namespace updater;

namespace {

const std::string kArchive = "PK\x03\x04 une archive de mise à jour";

}  // namespace

TEST(Signature, OnlyTheKeysOwnSignatureOfTheseBytesIsValid) {
  const testkey::KeyPair publisher, other;
  const std::string good = publisher.Sign(kArchive);
  std::string flipped = good;
  flipped[10] ^= 1;
  std::string tampered = kArchive;
  tampered.back() ^= 1;
  struct Case {
    const char* what;
    std::string data, signature;
    SignatureCheck expected;
  };
  const Case cases[] = {
      {"signed by the publisher", kArchive, good, SignatureCheck::Valid},
      {"signed by another key", kArchive, other.Sign(kArchive), SignatureCheck::Invalid},
      {"archive changed after signing", tampered, good, SignatureCheck::Invalid},
      {"signature changed", kArchive, flipped, SignatureCheck::Invalid},
      {"signature cut short", kArchive, good.substr(0, 63), SignatureCheck::Invalid},
      {"no signature", kArchive, "", SignatureCheck::Invalid},
      {"signature as text", kArchive, std::string(64, 'a'), SignatureCheck::Invalid},
      {"empty archive signed", "", publisher.Sign(""), SignatureCheck::Valid},
  };
  for (const auto& c : cases) EXPECT_EQ(VerifySignature(publisher.PublicHex(), c.data, c.signature), c.expected) << c.what;
}

// The signature holds for the archive as the release it was signed for, and for nothing else.
TEST(Signature, ReleaseSignatureBindsTheArchiveToItsDate) {
  using namespace std::chrono;
  const testkey::KeyPair publisher, other;
  const std::string big(3 << 20, 'q');  // read in more than one piece
  struct Case {
    const char* what;
    std::string file, signature;
    year_month_day release;
    SignatureCheck expected;
  };
  const Case cases[] = {
      {"the release it was signed for", kArchive, publisher.SignRelease(kArchive, "2024-03-12"), 2024y / March / 12,
       SignatureCheck::Valid},
      {"a large archive", big, publisher.SignRelease(big, "2024-03-12"), 2024y / March / 12, SignatureCheck::Valid},
      {"an older release offered as a later one", kArchive, publisher.SignRelease(kArchive, "2024-03-10"),
       2024y / March / 12, SignatureCheck::Invalid},
      {"the archive's bytes alone", kArchive, publisher.Sign(kArchive), 2024y / March / 12, SignatureCheck::Invalid},
      {"another archive", kArchive + " ", publisher.SignRelease(kArchive, "2024-03-12"), 2024y / March / 12,
       SignatureCheck::Invalid},
      {"another key", kArchive, other.SignRelease(kArchive, "2024-03-12"), 2024y / March / 12, SignatureCheck::Invalid},
  };
  for (const auto& c : cases) {
    const fs::path file = testenv::writeFile(testenv::testRoot() / "Quillomet.zip", c.file);
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(VerifyReleaseSignature(publisher.PublicHex(), fd, c.release, c.signature), c.expected) << c.what;
    close(fd);
  }
  const fs::path file = testenv::writeFile(testenv::testRoot() / "abc", "abc");
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(FileSha256(fd), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  close(fd);
  EXPECT_EQ(FileSha256(-1), "");
  EXPECT_EQ(ReleaseManifest(2024y / March / 2, "ab"), "QUILLOMET-MISE-A-JOUR 1\nversion 2024-03-02\nsha256 ab\n");
}

TEST(Signature, WithoutAUsableKeyNothingIsTrusted) {
  const testkey::KeyPair publisher;
  const std::string sig = publisher.Sign(kArchive);
  const std::string hex = publisher.PublicHex();
  for (const std::string& key : {std::string(), hex.substr(0, 62), hex + "00", std::string(64, 'g'), hex.substr(1) + "x"}) {
    EXPECT_FALSE(IsPublicKey(key)) << key;
    EXPECT_EQ(VerifySignature(key, kArchive, sig), SignatureCheck::NoKey) << key;
  }
  EXPECT_TRUE(IsPublicKey(hex));
}

// The publisher's script makes a key pair whose printed public key checks what it signs.
TEST(Signature, PublisherScriptMakesKeysAndSignsAnArchive) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
  const std::string script = std::string(QUILLOMET_FIXTURES_DIR) + "/../../scripts/update-signing.sh";
  const fs::path dir = testenv::makeDir("editeur");
  const fs::path zip = testenv::writeFile(dir / "Quillomet.zip", kArchive);
  const std::string keys = "bash '" + script + "' keys '" + (dir / "cles").string() + "' 2>/dev/null";
  FILE* out = popen(keys.c_str(), "r");
  ASSERT_NE(out, nullptr);
  char line[256] = {};
  ASSERT_NE(fgets(line, sizeof line, out), nullptr);
  EXPECT_EQ(pclose(out), 0);
  std::string hex = line;
  while (!hex.empty() && hex.back() == '\n') hex.pop_back();
  ASSERT_TRUE(IsPublicKey(hex)) << hex;
  EXPECT_EQ(fs::status(dir / "cles" / "update-private.pem").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  // A second run keeps the key it would otherwise lose.
  EXPECT_NE(std::system(keys.c_str()), 0);

  const std::string sign = "bash '" + script + "' sign '" + (dir / "cles" / "update-private.pem").string() + "' '" +
                           zip.string() + "' ";
  // The release date is written the one way the updater reads it.
  for (const char* bad : {"", "12/03/2024", "2024-02-30", "2024-3-12"})
    EXPECT_NE(std::system((sign + "'" + bad + "' 2>/dev/null").c_str()), 0) << bad;
  EXPECT_FALSE(fs::exists(dir / "Quillomet.zip.sig"));
  ASSERT_EQ(std::system((sign + "2024-03-12 2>/dev/null").c_str()), 0);
  const std::string sig = testenv::readFile(dir / "Quillomet.zip.sig");
  const int fd = open(zip.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  using namespace std::chrono;
  EXPECT_EQ(VerifyReleaseSignature(hex, fd, 2024y / March / 12, sig), SignatureCheck::Valid);
  EXPECT_EQ(VerifyReleaseSignature(hex, fd, 2024y / March / 13, sig), SignatureCheck::Invalid);
  close(fd);
}
