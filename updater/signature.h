#pragma once
// Authenticity of an update archive: an Ed25519 signature of the whole file, made by the
// publisher's private key and checked with the public key built into the updater.
#include <string>

namespace updater {

enum class SignatureCheck {
  Valid,
  Invalid,  // not made by the key for these bytes, or not a signature at all
  NoKey,    // no usable public key: nothing can be trusted
};

// True for 64 hex digits that make an Ed25519 public key.
bool IsPublicKey(const std::string& publicKeyHex);
// publicKeyHex: the raw 32-byte public key as 64 hex digits; signature: the 64 raw bytes.
SignatureCheck VerifySignature(const std::string& publicKeyHex, const std::string& data, const std::string& signature);
// The same for the whole file behind an open descriptor.
SignatureCheck VerifyFileSignature(const std::string& publicKeyHex, int fd, const std::string& signature);

}  // namespace updater
