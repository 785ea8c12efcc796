#pragma once
// File-name masks with the Windows search rules: "*" any run of characters, "?" exactly one
// character (one code point), letter case ignored, a trailing ".*" also matches a name that
// ends where the dot would stand ("*.*" matches every name, "readme.*" matches "readme").
#include <string>
#include <string_view>
#include <vector>

namespace core {

class FileMask {
 public:
  explicit FileMask(std::string_view mask);

  bool Matches(std::string_view name) const;
  // True for masks that every name matches ("*", "*.*", "**").
  bool MatchesAll() const { return matchAll_; }

 private:
  std::u32string full_;  // folded code points; '*' and '?' kept as wildcards
  std::u32string stem_;  // full_ without its trailing ".*", or empty
  bool hasStem_ = false;
  bool matchAll_ = false;
  bool empty_ = false;
};

// The pieces of a ";"-separated mask list from left to right, each exactly as written
// (empty pieces and spaces kept).
std::vector<std::string> SplitMasks(std::string_view filtre);

// One-shot form of FileMask(mask).Matches(name).
bool MatchesMask(std::string_view name, std::string_view mask);

// Name folded for case-insensitive comparison: code points upper-cased with simple Unicode
// case mapping; bytes that are not valid UTF-8 become distinct values of their own.
void FoldName(std::string_view name, std::u32string& out);

}  // namespace core
