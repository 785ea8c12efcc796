#include "updater/ziparchive/zanames.h"

#include <gtest/gtest.h>

using namespace ziparchive;

TEST(ZipNames, StoredNamesDecodeByFlagHostAndValidity) {
  const uint16_t dos = 20, unix = 0x031E;
  struct Case {
    const char* what;
    std::string stored;
    uint16_t flags, madeBy;
    bool oem;
    std::string name;
  } cases[] = {
      {"bit 11 keeps UTF-8", "caf\xC3\xA9.txt", kUtf8NameFlag, dos, true, "caf\xC3\xA9.txt"},
      {"Unix host, valid UTF-8, no flag", "\xC3\xA9t\xC3\xA9", 0, unix, true, "\xC3\xA9t\xC3\xA9"},
      {"DOS host is CP437 even if it looks like UTF-8", "\xC3\xA9", 0, dos, true,
       "\xE2\x94\x9C\xE2\x8C\x90"},
      {"Unix host, invalid UTF-8 falls back to CP437", "\x82t\x82", 0, unix, true,
       "\xC3\xA9t\xC3\xA9"},
      {"CP437 box and Greek letters", "\xB0\xE0\xFF", 0, dos, true, "\xE2\x96\x91\xCE\xB1\xC2\xA0"},
      {"backslashes become slashes", "dir\\sub\\f", 0, dos, true, "dir/sub/f"},
      {"cut at the first zero byte", std::string("ab\0cd", 5), 0, dos, true, "ab"},
      {"without OEM names the bytes stay", "\x82", 0, dos, false, "\x82"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeEntryName(c.stored, c.flags, c.madeBy, c.oem), c.name) << c.what;
}

TEST(ZipNames, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));  // 4-byte sequence
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
  EXPECT_FALSE(IsValidUtf8("\x80"));
}

TEST(ZipNames, Bit11SetOnlyForNonAsciiNames) {
  EXPECT_EQ(FlagsForName(0x0008, "plain/name.txt"), 0x0008);
  EXPECT_EQ(FlagsForName(0x0808, "plain"), 0x0008);
  EXPECT_EQ(FlagsForName(0x0001, "r\xC3\xA9sum\xC3\xA9"), 0x0801);
}
