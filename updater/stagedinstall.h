#pragma once
// Puts a set of new files in place as a whole: every file of a staging folder is renamed over
// its counterpart in the program folder, the old one moved aside first; when any step fails,
// what was done is undone, so the program folder holds the old set or the new one.
#include <filesystem>
#include <string>

namespace updater {

struct InstallResult {
  bool Ok = false;
  int Files = 0;        // files put in place
  std::string Message;  // French text of the failure
};

// staging and target must lie on one file system; backup is a fresh folder there too.
InstallResult InstallStaged(const std::filesystem::path& staging, const std::filesystem::path& target,
                            const std::filesystem::path& backup);

}  // namespace updater
