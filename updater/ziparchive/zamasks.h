#pragma once
// File masks: the wildcard matcher, the ZIP-name adapter and the attribute filter.
// Names and masks are UTF-8; "?" takes one code point and case folds by the user's locale.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "updater/ziparchive/zadirarray.h"

namespace ziparchive {

// Case rules of a locale: Turkish and Azeri pair "i" with the dotted capital and the dotless
// small i with "I"; every other locale folds by the simple Unicode rules.
enum class TZACaseRules { Simple, Turkic };
// The rules of a locale name such as "tr_TR.UTF-8" or "az_AZ@latin".
TZACaseRules CaseRulesForLocale(std::string_view localeName);
// The rules in force: those of the given locale name, or for an empty name the user's locale
// as LC_ALL, LC_CTYPE and LANG give it (read once, on first use, when never set).
void SetCaseLocale(std::string_view localeName);
TZACaseRules CaseRules();

// Fold of one code point, the same for every case-insensitive comparison.
char32_t FoldCase(char32_t c);
// The text with every code point folded (invalid bytes kept as they are).
std::string FoldCaseText(std::string_view text);

// Wildcard match: "*" takes any run of characters ("/" and "\" included), "?" one character.
// A mask (or the rest of one after a "*") that is exactly "*.*" matches everything.
bool MatchesMask(std::string_view name, std::string_view mask, bool caseInsensitive);

// The matcher adapted to stored names: an empty mask matches nothing, "*.*" stands for "*",
// and a mask ending in "." takes only names without an extension.
bool MaskMatchesName(std::string_view name, std::string_view mask);

// False when the entry carries hidden, system, volume or folder bits that the search lacks.
bool AttributesMatch(uint32_t entryAttributes, uint32_t searchAttributes);

// Whether the entry is one the search record asks for. With UseMaskProperties the lists of
// file masks and exclusion masks decide; otherwise the record's FileMask, tried on the whole
// name and then on its file-name part, and its ExclusionMask tried the same way (an empty
// exclusion mask excludes nothing).
bool ItemSelected(const TDirItem& entry, const TInternalSearchRec& rec, const std::vector<std::string>& fileMasks,
                  const std::vector<std::string>& exclusionMasks);

// The folder part of a name ("/" or "\" separators), up to and including the last separator,
// with "\" separators and folded case; a trailing separator of the name itself is dropped first.
std::string FoldedFolderOf(std::string_view name);

}  // namespace ziparchive
