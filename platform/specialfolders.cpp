#include "platform/specialfolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace platform {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string StripSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// $VAR when it holds an absolute path, else home + fallback.
std::string XdgBase(const char* var, const char* fallback) {
  const std::string v = Env(var);
  if (!v.empty() && v[0] == '/') return StripSlash(v);
  const std::string home = HomeFolder();
  if (home.empty()) return "";
  return StripSlash(home + fallback);
}

// One XDG_xxx_DIR of user-dirs.dirs ("$HOME/Documents" or an absolute path), else home + fallback.
std::string UserDir(const std::string& key, const char* fallback) {
  const std::string home = HomeFolder();
  const std::string config = XdgBase("XDG_CONFIG_HOME", "/.config");
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string v = line.substr(key.size() + 1);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) {
      if (home.empty()) return "";
      v = home + v.substr(5);
    }
    if (!v.empty() && v[0] == '/') return StripSlash(v);
  }
  return home.empty() ? "" : StripSlash(home + fallback);
}

}  // namespace

std::string HomeFolder() {
  const std::string home = Env("HOME");
  if (!home.empty() && home[0] == '/') return StripSlash(home);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
    return StripSlash(pw->pw_dir);
  return "";
}

std::string SpecialFolderPath(int csidl) {
  switch (csidl) {
    case kCsidlAppData:
    case kCsidlLocalAppData:
      return XdgBase("XDG_DATA_HOME", "/.local/share");
    case kCsidlInternetCache:
      return XdgBase("XDG_CACHE_HOME", "/.cache");
    case kCsidlFonts: {
      const std::string data = XdgBase("XDG_DATA_HOME", "/.local/share");
      return data.empty() ? "" : data + "/fonts";
    }
    case kCsidlPersonal:
      return UserDir("XDG_DOCUMENTS_DIR", "/Documents");
    case kCsidlMyMusic:
      return UserDir("XDG_MUSIC_DIR", "/Music");
    case kCsidlMyVideo:
      return UserDir("XDG_VIDEOS_DIR", "/Videos");
    case kCsidlMyPictures:
      return UserDir("XDG_PICTURES_DIR", "/Pictures");
    case kCsidlTemplates:
      return UserDir("XDG_TEMPLATES_DIR", "/Templates");
    case kCsidlDesktop:
    case kCsidlDesktopDirectory:
      return UserDir("XDG_DESKTOP_DIR", "/Desktop");
    case kCsidlProfile:
      return HomeFolder();
    default:
      return "";
  }
}

}  // namespace platform
