#include "updater/signature.h"

#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>

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

SignatureCheck VerifyFileSignature(const std::string& publicKeyHex, int fd, const std::string& signature) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return SignatureCheck::Invalid;
  if (st.st_size == 0) return Verify(publicKeyHex, nullptr, 0, signature);
  void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return SignatureCheck::Invalid;
  const SignatureCheck check = Verify(publicKeyHex, static_cast<const unsigned char*>(map), size_t(st.st_size), signature);
  ::munmap(map, size_t(st.st_size));
  return check;
}

}  // namespace updater
