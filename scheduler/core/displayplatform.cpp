#include "scheduler/core/displayplatform.h"

#include <string_view>

namespace core {

std::string PreferredQtPlatform(const EnvironmentLookup& env) {
  auto set = [&](const char* name) {
    const char* value = env(name);
    return value != nullptr && *value != '\0';
  };
  if (set("QT_QPA_PLATFORM") || !set("DISPLAY")) return "";
  const char* session = env("XDG_SESSION_TYPE");
  const bool wayland = set("WAYLAND_DISPLAY") || (session != nullptr && std::string_view(session) == "wayland");
  return wayland ? "xcb;wayland" : "";
}

std::vector<std::string> ApplicationArguments(const std::vector<std::string>& args, const std::string& platform) {
  if (platform.empty() || args.empty()) return args;
  std::vector<std::string> out;
  out.reserve(args.size() + 2);
  out.push_back(args.front());
  out.push_back("-platform");
  out.push_back(platform);
  out.insert(out.end(), args.begin() + 1, args.end());
  return out;
}

}  // namespace core
