#pragma once
// Finding running programs by the file name of their executable, and stopping one.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace platform {

// Processes whose executable's file name (no folder) equals name, ASCII case ignored, in the
// order of their ids. procRoot is "/proc" except in tests.
std::vector<pid_t> ProcessesNamed(const std::string& name, const std::string& procRoot = "/proc");

// Stops the first process of that name: SIGTERM, a wait of up to `grace` for it to end, then
// SIGKILL and another short wait. True when the process is gone; false when none runs or it
// could not be signalled. Later processes of the same name are not touched.
bool KillProcessByName(const std::string& name, std::chrono::milliseconds grace = std::chrono::seconds(5),
                       const std::string& procRoot = "/proc");

// Stops, the same way, the first process that runs the program file at path (the same folder,
// the file name with ASCII case ignored); processes of that name run from elsewhere are left alone.
bool KillProgram(const std::string& path, std::chrono::milliseconds grace = std::chrono::seconds(5),
                 const std::string& procRoot = "/proc");

}  // namespace platform
