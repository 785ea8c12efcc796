#pragma once
// Every test runs with its own empty XDG_DATA_HOME, XDG_RUNTIME_DIR and HOME, so no test
// touches the real home of the user running the suite.
#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <string>

namespace testenv {

// Root of the current test's private folder (removed when the test ends).
std::filesystem::path testRoot();
// A fresh sub-folder of testRoot().
std::filesystem::path makeDir(const std::string& name);
// Writes a file with the given bytes and returns its path.
std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// Folder of committed fixtures (tests/fixtures).
std::filesystem::path fixtures();

// Resident memory of the process in KiB: "VmRSS" now, "VmHWM" its peak since the last
// resetPeakMemory(); -1 where the system gives no such figure.
long statusKiB(const std::string& field);
void resetPeakMemory();

// A broken-down local time (tm_isdst -1: the zone decides).
std::tm makeTm(int year, int month, int day, int hour, int minute, int second);

// Whether a child of this process has ended, with its wait status in *status when given. The
// child is not reaped: its id stays taken until the caller's waitpid, so a later kill of that
// id can never reach another process that got the same id meanwhile.
bool hasEnded(pid_t pid, int* status = nullptr);

// Registers the per-test listener; called by both test mains.
void install();
// Removes the folders of the tests that ended again, for what wrote into them afterwards.
void removeEndedRoots();

}  // namespace testenv
