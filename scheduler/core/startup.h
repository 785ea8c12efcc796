#pragma once
// Pieces of the start-up sequence that need no window.
#include <cstdint>
#include <string>
#include <vector>

namespace core {

// The data folder under the per-user data folder, ending with "/". An empty base (no data
// folder known) falls back to the temporary folder rather than "/Quillomet/".
std::string DataFolderIn(const std::string& appDataFolder);

// Takes group and other permissions off the data folder and off its files that hold
// credentials ("reseau.ini", "serie.ini"), which earlier versions left open. Links are not
// followed. A file or folder that is missing is left alone.
void NarrowDataFolderModes(const std::string& dataFolder);

// No settings file yet: nothing was ever saved.
bool IsFirstRun(const std::string& dataFolder);

// Megabytes to bytes, in 64 bits.
std::uint64_t CopyThresholdOf(int megabytes);

// The first command-line argument, or "ENGLISH" when there is none or it is empty.
std::string LanguageNameFrom(const std::vector<std::string>& arguments);

}  // namespace core
