#pragma once
// Safe removal of a USB volume through UDisks2: object paths and the French texts of its answers.
#include <string>
#include <string_view>

namespace core {

inline constexpr char kUDisksService[] = "org.freedesktop.UDisks2";

// UDisks2's object of a block device named by the kernel ("sdb1"): every character other than
// an ASCII letter, digit or "_" is written "_" and two hex digits.
std::string UDisksBlockPath(std::string_view device);

// How a volume is named to the user: its label, else its mount point.
std::string VolumeDisplayName(std::string_view label, std::string_view mountPoint);

// The French text for a D-Bus error of an unmount or a power-off of the volume `name`.
std::string EjectErrorText(std::string_view errorName, std::string_view message, std::string_view name);

// Whether the error means that no UDisks2 answers on the bus.
bool UDisksMissing(std::string_view errorName);

}  // namespace core
