#include "scheduler/core/filemask.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace core {
namespace {

// Wildcards live outside the Unicode range so that no folded character can equal them.
constexpr char32_t kStar = 0x7FFFFFF0;
constexpr char32_t kAnyOne = 0x7FFFFFF1;
// An invalid byte b becomes kRawByte + b.
constexpr char32_t kRawByte = 0x110000;

locale_t utf8Locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

char32_t foldCodePoint(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  if (c >= kRawByte) return c;
  locale_t loc = utf8Locale();
  if (!loc) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), loc));
}

// Decodes one UTF-8 sequence at s[i]; advances i. Overlong forms, surrogates and
// truncated sequences give the lead byte as a raw value.
char32_t decodeOne(std::string_view s, size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kRawByte + b0;
  }
  if (i + len > s.size()) {
    ++i;
    return kRawByte + b0;
  }
  for (int k = 1; k < len; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kRawByte + b0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kRawByte + b0;
  }
  i += len;
  return cp;
}

// Classic wildcard match with backtracking to the last star: linear for one star,
// at worst quadratic.
bool wildMatch(const std::u32string& pat, const std::u32string& name) {
  size_t p = 0, n = 0;
  size_t starP = std::u32string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == kStar) {
      starP = p++;
      starN = n;
    } else if (p < pat.size() && (pat[p] == kAnyOne || pat[p] == name[n])) {
      ++p;
      ++n;
    } else if (starP != std::u32string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == kStar) ++p;
  return p == pat.size();
}

}  // namespace

void FoldName(std::string_view name, std::u32string& out) {
  out.clear();
  size_t i = 0;
  while (i < name.size()) out.push_back(foldCodePoint(decodeOne(name, i)));
}

FileMask::FileMask(std::string_view mask) {
  empty_ = mask.empty();
  FoldName(mask, full_);
  for (auto& c : full_) {
    if (c == '*') c = kStar;
    else if (c == '?') c = kAnyOne;
  }
  matchAll_ = !empty_;
  for (char32_t c : full_) matchAll_ = matchAll_ && c == kStar;
  size_t n = full_.size();
  if (n >= 2 && full_[n - 2] == '.' && full_[n - 1] == kStar) {
    hasStem_ = true;
    stem_ = full_.substr(0, n - 2);
    bool stemAll = !stem_.empty();
    for (char32_t c : stem_) stemAll = stemAll && c == kStar;
    matchAll_ = matchAll_ || stemAll;
  }
}

bool FileMask::Matches(std::string_view name) const {
  if (empty_) return false;
  if (matchAll_) return true;
  thread_local std::u32string folded;
  FoldName(name, folded);
  return wildMatch(full_, folded) || (hasStem_ && wildMatch(stem_, folded));
}

std::vector<std::string> SplitMasks(std::string_view filtre) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t semi = filtre.find(';', start);
    if (semi == std::string_view::npos) {
      out.emplace_back(filtre.substr(start));
      break;
    }
    out.emplace_back(filtre.substr(start, semi - start));
    start = semi + 1;
  }
  return out;
}

bool MatchesMask(std::string_view name, std::string_view mask) { return FileMask(mask).Matches(name); }

}  // namespace core
