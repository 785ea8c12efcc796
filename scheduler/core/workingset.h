#pragma once
// Giving the process's free heap pages back to the system while it waits.
#include <string_view>

namespace core {

// Whether the running program's file name is `exeName`, letter case included.
bool IsOwnExecutable(std::string_view exeName);

// Returns the free heap memory of this process to the system (malloc_trim) when the running
// program is named `exeName`; otherwise, and on any failure, does nothing.
void ReleaseProcessMemory(std::string_view exeName);

}  // namespace core
