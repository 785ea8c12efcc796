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

  // The same through the downloaded file.
  const fs::path file = testenv::writeFile(testenv::testRoot() / "Quillomet.zip", kArchive);
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(VerifyFileSignature(publisher.PublicHex(), fd, good), SignatureCheck::Valid);
  EXPECT_EQ(VerifyFileSignature(other.PublicHex(), fd, good), SignatureCheck::Invalid);
  close(fd);
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
                           zip.string() + "' 2>/dev/null";
  ASSERT_EQ(std::system(sign.c_str()), 0);
  const std::string sig = testenv::readFile(dir / "Quillomet.zip.sig");
  EXPECT_EQ(VerifySignature(hex, kArchive, sig), SignatureCheck::Valid);
  EXPECT_EQ(VerifySignature(hex, kArchive + " ", sig), SignatureCheck::Invalid);
}
