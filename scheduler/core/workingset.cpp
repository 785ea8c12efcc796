#include "scheduler/core/workingset.h"

#include <malloc.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace core {

bool IsOwnExecutable(std::string_view exeName) {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return false;
  std::string name = exe.filename().string();
  // A program file replaced while running reads as "name (deleted)".
  constexpr std::string_view deleted = " (deleted)";
  if (name.size() > deleted.size() && name.ends_with(deleted)) name.resize(name.size() - deleted.size());
  return name == exeName;
}

void ReleaseProcessMemory(std::string_view exeName) {
  if (IsOwnExecutable(exeName)) malloc_trim(0);
}

}  // namespace core
