#include "scheduler/core/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace core {

std::string DataFolderIn(const std::string& appDataFolder) {
  std::string base = appDataFolder;
  if (base.empty() || base[0] != '/') {
    const char* tmp = std::getenv("TMPDIR");
    base = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    base += "/Quillomet-" + std::to_string(getuid());
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  return base + "/Quillomet/";
}

bool IsFirstRun(const std::string& dataFolder) {
  struct stat st;
  return lstat((dataFolder + "serie.ini").c_str(), &st) != 0;
}

std::uint64_t CopyThresholdOf(int megabytes) {
  return static_cast<std::uint64_t>(megabytes < 0 ? 0 : megabytes) * 1048576ull;
}

std::string LanguageNameFrom(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments[1].empty()) return "ENGLISH";
  return arguments[1];
}

}  // namespace core
