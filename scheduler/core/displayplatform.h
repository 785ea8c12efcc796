#pragma once
// The window system the program asks Qt for before it starts.
#include <functional>
#include <string>
#include <vector>

namespace core {

// Reads one environment variable; nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// Under a Wayland session with an X server beside it (Xwayland), X11 is preferred: Wayland
// lets no client place, move or raise its own windows, which the prompt and the alerts need.
// Returns the value for QT_QPA_PLATFORM, or "" to leave Qt's choice (the user set the
// variable, or there is no X display). The Wayland plugin stays as the fallback.
std::string PreferredQtPlatform(const EnvironmentLookup& env);

// The arguments for the application object: the program's own, with "-platform <platform>"
// put right after the program name when there is a preference. The preference so stays in our
// process (the environment, which the programs we start inherit, is left alone), and a
// "-platform" the user gives later on the command line still wins.
std::vector<std::string> ApplicationArguments(const std::vector<std::string>& args, const std::string& platform);

}  // namespace core
