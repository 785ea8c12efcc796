#include "updater/signature.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

namespace updater {

namespace {

constexpr size_t kKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;

std::optional<std::string> FromHex(const std::string& hex) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += char(hi * 16 + lo);
  }
  return out;
}

SignatureCheck Verify(const std::string& publicKeyHex, const unsigned char* data, size_t size,
                      const std::string& signature) {
  const auto key = FromHex(publicKeyHex);
  if (!key || key->size() != kKeyBytes) return SignatureCheck::NoKey;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key->data()),
                                  key->size()),
      EVP_PKEY_free);
  if (!pkey) return SignatureCheck::NoKey;
  if (signature.size() != kSignatureBytes) return SignatureCheck::Invalid;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
    return SignatureCheck::Invalid;
  static const unsigned char kNothing = 0;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                          size ? data : &kNothing, size) == 1
             ? SignatureCheck::Valid
             : SignatureCheck::Invalid;
}

}  // namespace

bool IsPublicKey(const std::string& publicKeyHex) {
  return Verify(publicKeyHex, nullptr, 0, {}) != SignatureCheck::NoKey;
}

SignatureCheck VerifySignature(const std::string& publicKeyHex, const std::string& data, const std::string& signature) {
  return Verify(publicKeyHex, reinterpret_cast<const unsigned char*>(data.data()), data.size(), signature);
}

std::string IsoDate(std::chrono::year_month_day date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()), unsigned(date.day()));
  return text;
}

std::string ReleaseManifest(std::chrono::year_month_day release, const std::string& sha256Hex) {
  return "QUILLOMET-MISE-A-JOUR 1\nversion " + IsoDate(release) + "\nsha256 " + sha256Hex + "\n";
}

std::string FileSha256(int fd) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer.get(), 1 << 20, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {};
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer.get(), size_t(n)) != 1) return {};
    at += n;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1) return {};
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

SignatureCheck VerifyReleaseSignature(const std::string& publicKeyHex, int fd, std::chrono::year_month_day release,
                                      const std::string& signature) {
  if (!IsPublicKey(publicKeyHex)) return SignatureCheck::NoKey;
  const std::string sha256 = FileSha256(fd);
  if (sha256.empty()) return SignatureCheck::Invalid;
  return VerifySignature(publicKeyHex, ReleaseManifest(release, sha256), signature);
}

}  // namespace updater
