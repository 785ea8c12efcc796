#pragma once
// Per-user special folders by their shell number, on XDG paths.
#include <string>

namespace platform {

constexpr int kCsidlDesktop = 0;
constexpr int kCsidlPersonal = 5;     // documents
constexpr int kCsidlFavorites = 6;
constexpr int kCsidlMyMusic = 13;
constexpr int kCsidlMyVideo = 14;
constexpr int kCsidlDesktopDirectory = 16;
constexpr int kCsidlFonts = 20;
constexpr int kCsidlTemplates = 21;
constexpr int kCsidlAppData = 26;     // XDG data home
constexpr int kCsidlLocalAppData = 28;
constexpr int kCsidlInternetCache = 32;
constexpr int kCsidlMyPictures = 39;
constexpr int kCsidlProfile = 40;

// The folder's path without a trailing "/" ("/" itself excepted); "" for a number that has no
// folder here (cookies, browser history, favourites...).
std::string SpecialFolderPath(int csidl);

// The user's home: $HOME when absolute, else the password database; "" when neither knows.
std::string HomeFolder();

}  // namespace platform
