#pragma once
// An Ed25519 key pair made for one test, standing in for the publisher's.
#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace testkey {

class KeyPair {
 public:
  KeyPair();
  ~KeyPair();
  KeyPair(const KeyPair&) = delete;
  KeyPair& operator=(const KeyPair&) = delete;

  // The raw public key as 64 hex digits, as the updater is built with.
  std::string PublicHex() const;
  // The 64-byte signature of data.
  std::string Sign(const std::string& data) const;

 private:
  EVP_PKEY* key_ = nullptr;
};

}  // namespace testkey
