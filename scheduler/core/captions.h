#pragma once
// Caption lookup in "lang.ini" (one section per language) and the caption export "sourcelang.ini".
#include <string>
#include <string_view>

namespace core {

// The caption of `key` in section `language` of dataFolder/lang.ini; the key itself when the
// file, section or key is missing or the value is empty. Keys compare without regard to case.
std::string IniLang(const std::string& dataFolder, std::string_view language, std::string_view key);

// Appends one line and a line break to dataFolder/sourcelang.ini (created when missing), in
// one write. Throws std::runtime_error when the file cannot be opened or written.
void ecrire(const std::string& dataFolder, std::string_view line);

}  // namespace core
