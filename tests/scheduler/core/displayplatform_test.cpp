// The window system asked for at start, from the session's environment.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "scheduler/core/displayplatform.h"

namespace {

TEST(PreferredQtPlatform, XcbUnderWaylandWhenAnXDisplayIsThere) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> env;
    std::string expected;
  } cases[] = {
      {"wayland session with Xwayland", {{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}}, "xcb;wayland"},
      {"wayland socket only named", {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":1"}}, "xcb;wayland"},
      {"wayland without an X server", {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}}, ""},
      {"empty DISPLAY", {{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ""}}, ""},
      {"the user's choice wins",
       {{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}, ""},
      {"an X11 session", {{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}, ""},
      {"nothing at all", {}, ""},
  };
  for (const Case& c : cases) {
    const auto lookup = [&](const char* name) -> const char* {
      const auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(core::PreferredQtPlatform(lookup), c.expected) << c.what;
  }
}

// The preference goes to the application as its argument, before the user's own arguments, so
// a "-platform" of the user still wins and the language argument stays the first of the program.
TEST(ApplicationArguments, ThePreferenceGoesFirstAndOnlyWhenThereIsOne) {
  using Args = std::vector<std::string>;
  const struct {
    const char* what;
    Args args;
    std::string platform;
    Args expected;
  } cases[] = {
      {"no preference", {"Quillomet", "FRENCH"}, "", {"Quillomet", "FRENCH"}},
      {"a preference", {"Quillomet"}, "xcb;wayland", {"Quillomet", "-platform", "xcb;wayland"}},
      {"before the user's arguments",
       {"Quillomet", "FRENCH", "-platform", "wayland"},
       "xcb;wayland",
       {"Quillomet", "-platform", "xcb;wayland", "FRENCH", "-platform", "wayland"}},
      {"no arguments at all", {}, "xcb;wayland", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(core::ApplicationArguments(c.args, c.platform), c.expected) << c.what;
}

}  // namespace
