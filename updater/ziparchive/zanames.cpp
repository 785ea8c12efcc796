#include "updater/ziparchive/zanames.h"

namespace ziparchive {

namespace {

// Code points of CP437 bytes 0x80 to 0xFF.
constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = s[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) AppendUtf8(out, c < 0x80 ? c : kCp437High[c - 0x80]);
  return out;
}

void DecodeEntryNameInto(std::string_view stored, uint16_t flags, uint16_t versionMadeBy, bool oemFileNames,
                         std::string& out) {
  size_t zero = stored.find('\0');
  if (zero != std::string_view::npos) stored = stored.substr(0, zero);
  bool asStored = !oemFileNames || (flags & kUtf8NameFlag) || IsAscii(stored) ||
                  ((versionMadeBy >> 8) == kHostUnix && IsValidUtf8(stored));
  if (asStored) {
    out.assign(stored);
  } else {
    out.clear();
    for (unsigned char c : stored) AppendUtf8(out, c < 0x80 ? c : kCp437High[c - 0x80]);
  }
  for (char& c : out)
    if (c == '\\') c = '/';
}

std::string DecodeEntryName(std::string_view stored, uint16_t flags, uint16_t versionMadeBy,
                            bool oemFileNames) {
  std::string name;
  DecodeEntryNameInto(stored, flags, versionMadeBy, oemFileNames, name);
  return name;
}

uint16_t FlagsForName(uint16_t flags, std::string_view name) {
  return IsAscii(name) ? uint16_t(flags & ~kUtf8NameFlag) : uint16_t(flags | kUtf8NameFlag);
}

uint16_t FlagsForStoredName(uint16_t flags, uint16_t versionMadeBy, std::string_view name) {
  // A Unix-made UTF-8 name without the flag reads back the same: its local header keeps it so.
  if (!(flags & kUtf8NameFlag) && (versionMadeBy >> 8) == kHostUnix && IsValidUtf8(name)) return flags;
  return FlagsForName(flags, name);
}

}  // namespace ziparchive
