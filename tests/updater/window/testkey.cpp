#include "tests/updater/window/testkey.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

namespace testkey {

KeyPair::KeyPair() {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  if (!ctx || EVP_PKEY_keygen_init(ctx) != 1 || EVP_PKEY_keygen(ctx, &key_) != 1) {
    EVP_PKEY_CTX_free(ctx);
    throw std::runtime_error("no Ed25519 key");
  }
  EVP_PKEY_CTX_free(ctx);
}

KeyPair::~KeyPair() { EVP_PKEY_free(key_); }

std::string KeyPair::PublicHex() const {
  unsigned char raw[32];
  size_t n = sizeof raw;
  EVP_PKEY_get_raw_public_key(key_, raw, &n);
  std::string hex;
  char digits[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", raw[i]);
    hex += digits;
  }
  return hex;
}

std::string KeyPair::Sign(const std::string& data) const {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::string sig(64, '\0');
  size_t n = sig.size();
  const bool ok = EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key_) == 1 &&
                  EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(sig.data()), &n,
                                 reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) throw std::runtime_error("signing failed");
  return sig;
}

std::string KeyPair::SignRelease(const std::string& archive, const std::string& isoDate) const {
  unsigned char digest[32];
  unsigned int n = 0;
  EVP_Digest(archive.data(), archive.size(), digest, &n, EVP_sha256(), nullptr);
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return Sign("QUILLOMET-MISE-A-JOUR 1\nversion " + isoDate + "\nsha256 " + hex + "\n");
}

}  // namespace testkey
