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

}  // namespace core
