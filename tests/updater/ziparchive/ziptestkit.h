#pragma once
// Archives for the extraction tests, written by Python's zipfile (a real peer), with any
// name, attribute, host and time; and small tree helpers.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ziptestkit {

constexpr int kHostDos = 0;
constexpr int kHostUnix = 3;

struct ZEntry {
  std::string name;
  std::string data;
  uint32_t attr = 0x20;  // external attributes (Unix mode in the high 16 bits)
  int host = kHostDos;
  std::array<int, 6> time{2024, 5, 6, 7, 8, 10};
  int method = 8;  // 0 stored, 8 deflated
};

// An entry made on Unix with the given mode (type bits included).
ZEntry UnixEntry(const std::string& name, const std::string& data, unsigned mode);

// Writes the archive with /usr/bin/python3; fails the test when it cannot.
std::filesystem::path MakeZip(const std::filesystem::path& zip, const std::vector<ZEntry>& entries);

// Changes the first occurrence of marker in the file (its last byte flipped).
void Damage(const std::filesystem::path& file, const std::string& marker);

// Every path below root (relative, "/" separators, folders with a trailing "/").
std::vector<std::string> TreeOf(const std::filesystem::path& root);

// Runs a shell command; returns its exit status.
int Shell(const std::string& command);

}  // namespace ziptestkit
