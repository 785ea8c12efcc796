#pragma once
// Authenticity of an update archive: an Ed25519 signature, made by the publisher's private key
// and checked with the public key built into the updater, of a short text that names the
// release (its date) and the SHA-256 of the archive, so an archive is only ever good as the
// release it was signed for.
#include <chrono>
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
// What the publisher signs for a release:
//   "QUILLOMET-MISE-A-JOUR 1\nversion YYYY-MM-DD\nsha256 <64 lower-case hex digits>\n"
std::string ReleaseManifest(std::chrono::year_month_day release, const std::string& sha256Hex);
// "YYYY-MM-DD"
std::string IsoDate(std::chrono::year_month_day date);
// SHA-256 of the whole file behind an open descriptor, in lower-case hex; empty when unreadable.
std::string FileSha256(int fd);
// Whether signature is the publisher's for the archive behind fd as the release of that date.
SignatureCheck VerifyReleaseSignature(const std::string& publicKeyHex, int fd, std::chrono::year_month_day release,
                                      const std::string& signature);

}  // namespace updater
