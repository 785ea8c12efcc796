#include "updater/ziparchive/zamasks.h"

#include <algorithm>

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <locale.h>
#include <vector>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"

namespace ziparchive {
namespace {

// Decodes UTF-8; a byte that starts no valid sequence stands for itself as 0xDC00 + byte,
// which no fold changes and no real character equals.
std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(cp);
      i += len;
    } else {
      out.push_back(0xDC00 + b0);
      ++i;
    }
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp >= 0xDC80 && cp <= 0xDCFF) {  // an undecodable byte, kept as it was
    out.push_back(static_cast<char>(cp - 0xDC00));
  } else if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

locale_t Utf8Locale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

bool RestIs(const std::u32string& mask, size_t j, std::u32string_view text) {
  return std::u32string_view(mask).substr(j) == text;
}

// Memoised form of the recursive matcher: a "*" at mask position j tried from name position i
// is evaluated once, so the cost stays polynomial whatever the mask.
class Matcher {
 public:
  Matcher(const std::u32string& name, const std::u32string& mask) : n_(name), m_(mask) {
    star_.assign(m_.size(), -1);
    int stars = 0;
    for (size_t j = 0; j < m_.size(); ++j) {
      if (m_[j] == U'*') star_[j] = stars++;
    }
    memo_.assign(static_cast<size_t>(stars) * n_.size(), kUnknown);
  }

  // One attempt at mask[j..] against name[i..].
  bool Attempt(size_t i, size_t j) {
    if (RestIs(m_, j, U"*.*")) return true;
    for (;;) {
      if (j + 1 == m_.size() && m_[j] == U'*') return true;
      if (i == n_.size()) return j == m_.size();
      if (j == m_.size()) return false;
      if (m_[j] == U'*') return Star(i, j);
      if (m_[j] != U'?' && m_[j] != n_[i]) return false;
      ++i;
      ++j;
    }
  }

 private:
  static constexpr int8_t kUnknown = -1;

  // The rest after the "*" at j, tried from each name position i .. last character.
  bool Star(size_t i, size_t j) {
    int8_t* memo = &memo_[static_cast<size_t>(star_[j]) * n_.size()];
    bool result = false;
    size_t k = i;
    for (; k < n_.size(); ++k) {
      if (memo[k] != kUnknown) {
        result = memo[k] != 0;
        break;
      }
      if (Attempt(k, j + 1)) {
        result = true;
        break;
      }
    }
    for (size_t p = i; p < k; ++p) memo[p] = result ? 1 : 0;
    return result;
  }

  const std::u32string& n_;
  const std::u32string& m_;
  std::vector<int> star_;
  std::vector<int8_t> memo_;
};

void FoldAll(std::u32string& s) {
  for (char32_t& c : s) c = FoldCase(c);
}

// Extension of a name: from the last "." after the last separator.
std::string_view ExtensionOf(std::string_view name) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return {};
  const size_t sep = name.find_last_of("/\\");
  if (sep != std::string_view::npos && sep > dot) return {};
  return name.substr(dot);
}

std::string Backslashed(std::string_view name) {
  std::string s(name);
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// The stored name against one mask, as a whole (less a trailing separator) and by its
// file-name part.
bool NameOrFileMatches(std::string_view name, std::string_view mask) {
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.remove_suffix(1);
  if (MaskMatchesName(name, mask)) return true;
  const size_t cut = name.find_last_of("/\\");
  return cut != std::string_view::npos && MaskMatchesName(name.substr(cut + 1), mask);
}

}  // namespace

namespace {

TZACaseRules RulesOfEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return CaseRulesForLocale(value);
  }
  return TZACaseRules::Simple;
}

TZACaseRules& RulesInForce() {
  static TZACaseRules rules = RulesOfEnvironment();
  return rules;
}

constexpr char32_t kCapitalDottedI = 0x0130;
constexpr char32_t kSmallDotlessI = 0x0131;

}  // namespace

TZACaseRules CaseRulesForLocale(std::string_view localeName) {
  const std::string_view language = localeName.substr(0, localeName.find_first_of("_.@"));
  return language == "tr" || language == "az" ? TZACaseRules::Turkic : TZACaseRules::Simple;
}

void SetCaseLocale(std::string_view localeName) {
  RulesInForce() = localeName.empty() ? RulesOfEnvironment() : CaseRulesForLocale(localeName);
}

TZACaseRules CaseRules() { return RulesInForce(); }

char32_t FoldCase(char32_t c) {
  if (RulesInForce() == TZACaseRules::Turkic) {
    if (c == U'i' || c == kCapitalDottedI) return kCapitalDottedI;
    if (c == U'I' || c == kSmallDotlessI) return U'I';
  }
  if (c < 0x80) return (c >= U'a' && c <= U'z') ? c - 0x20 : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const locale_t loc = Utf8Locale();
  if (loc == static_cast<locale_t>(nullptr)) return c;
  const auto w = static_cast<wint_t>(c);
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(towlower_l(towupper_l(w, loc), loc)), loc));
}

std::string FoldCaseText(std::string_view text) {
  std::u32string cps = DecodeUtf8(text);
  std::string out;
  out.reserve(text.size());
  for (char32_t c : cps) AppendUtf8(out, FoldCase(c));
  return out;
}

bool MatchesMask(std::string_view name, std::string_view mask, bool caseInsensitive) {
  if (mask == "*.*") return true;
  std::u32string n = DecodeUtf8(name);
  std::u32string m = DecodeUtf8(mask);
  if (caseInsensitive) {
    FoldAll(n);
    FoldAll(m);
  }
  return Matcher(n, m).Attempt(0, 0);
}

bool MaskMatchesName(std::string_view name, std::string_view mask) {
  if (mask.empty()) return false;
  std::string m(mask);
  const size_t pos = m.find("*.*");
  if (pos != std::string::npos) m = m.substr(0, pos) + "*" + m.substr(pos + 3);
  const bool noExtension = !m.empty() && m.back() == '.';
  if (noExtension) m.pop_back();
  std::string_view tested = name;
  if (!tested.empty() && tested.back() == '.') tested.remove_suffix(1);
  if (!MatchesMask(tested, m, true)) return false;
  if (!noExtension) return true;
  const std::string_view ext = ExtensionOf(name);
  return ext.empty() || ext == ".";
}

bool AttributesMatch(uint32_t entryAttributes, uint32_t searchAttributes) {
  constexpr uint32_t kFiltered = 0x02 | 0x04 | 0x08 | 0x10;
  return (entryAttributes & kFiltered & ~searchAttributes) == 0;
}

std::string FoldedFolderOf(std::string_view name) {
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.remove_suffix(1);
  const size_t cut = name.find_last_of("/\\");
  if (cut == std::string_view::npos) return {};
  return FoldCaseText(Backslashed(name.substr(0, cut + 1)));
}

bool ItemSelected(const TDirItem& entry, const TInternalSearchRec& rec, const std::vector<std::string>& fileMasks,
                  const std::vector<std::string>& exclusionMasks) {
  if (rec.UseMaskProperties) {
    const std::string name = Backslashed(entry.Name());
    auto matches = [&](const std::string& mask) { return MaskMatchesName(name, Backslashed(mask)); };
    if (!std::any_of(fileMasks.begin(), fileMasks.end(), matches)) return false;
    return std::none_of(exclusionMasks.begin(), exclusionMasks.end(), matches);
  }
  if (!NameOrFileMatches(entry.Name(), rec.FileMask)) return false;
  return rec.ExclusionMask.empty() || !NameOrFileMatches(entry.Name(), rec.ExclusionMask);
}

bool TZABaseArchiver::ItemMatches(TZAArchiveItem& item) {
  if (FDirManager == nullptr) return false;
  const TZADirArray& dir = FDirManager->CurrentDir;
  TInternalSearchRec& rec = item.InternalSearchRec;
  const bool sameFolderOnly = !Options.Recurse;
  const std::string maskFolder = sameFolderOnly ? FoldedFolderOf(rec.FileMask) : std::string();
  for (int i = std::max(rec.ItemIndex, 0); i < dir.DirItemCount(); ++i) {
    const TDirItem& entry = dir.DirItemAt(i);
    if (sameFolderOnly && FoldedFolderOf(entry.Name()) != maskFolder) continue;
    if (ItemSelected(entry, rec, fileMasks_, exclusionMasks_) && AttributesMatch(entry.ExternalAttributes, rec.Attributes)) {
      rec.ItemIndex = i;
      FillArchiveItem(entry, item);
      return true;
    }
  }
  return false;
}

}  // namespace ziparchive
