#pragma once
// Setting a file's dates from a local date-time, through the two-second DOS form.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace platform {

// The local date-time, cut to its two-second DOS step, as a file time: 100-ns units since
// 1 January 1601, UTC. Empty outside the DOS years 1980 to 2107.
std::optional<std::uint64_t> DateTimeToUtcFileTime(const std::tm& local);

// Seconds since 1970 (UTC) of a file time.
std::int64_t FileTimeToUnix(std::uint64_t fileTime);

// Sets the access and modification times of the file to that file time. The file must open
// for writing; a missing file, a folder or any failure changes nothing and reports nothing.
void datedu(const std::string& path, const std::tm& local);

}  // namespace platform
