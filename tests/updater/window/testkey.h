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
  // What the publisher publishes beside an archive: the signature of the text naming the
  // release ("YYYY-MM-DD") and the archive's SHA-256, written here as the publisher's script does.
  std::string SignRelease(const std::string& archive, const std::string& isoDate) const;

 private:
  EVP_PKEY* key_ = nullptr;
};

}  // namespace testkey
