#pragma once
// What a folder holds, to compare it before and after: every entry under it, with its kind and
// mode, and the bytes of files and the targets of links.
#include <filesystem>
#include <map>
#include <string>

namespace testenv {

// Relative path -> description. Entries of the top level whose names start with one of the
// skipped prefixes are left out with what they hold.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root, const std::string& skipPrefix = {});

}  // namespace testenv
