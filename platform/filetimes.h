#pragma once
// File times in the packed DOS form: local time, two-second steps, years 1980 to 2107.
#include <cstdint>
#include <ctime>
#include <optional>

namespace platform {

// Date in the high 16 bits, time in the low 16; ordered like the times they stand for.
// Empty outside 1980-2107.
std::optional<std::uint32_t> DosDateTime(std::time_t t);

// The local wall-clock time a DOS value stands for, as seconds since 1970 counted without
// any zone (so days are always 86,400 s long); empty for an impossible value.
std::optional<std::int64_t> DosToWallClock(std::uint32_t dos);

// Seconds since 1970 of the local wall-clock time of t, counted the same way.
std::int64_t WallClock(std::time_t t);

// The time whose local wall-clock time is wall (counted as above): of the two that a change to
// winter time repeats, the earlier; one that a change to summer time skips is read in the offset
// before the change (02:30 becomes 03:30), as mktime does. Unlike mktime, it does not read the
// zone again: that happens at tzset.
std::time_t FromWallClock(std::int64_t wall);

}  // namespace platform
