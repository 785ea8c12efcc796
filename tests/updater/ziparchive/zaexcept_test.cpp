#include "updater/ziparchive/zaexcept.h"

#include <gtest/gtest.h>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaconst.h"

using namespace ziparchive;

TEST(ZAMessages, TableMapsEveryCodeOnceAndNeverOutside) {
  ASSERT_EQ(kZAMessageCount, 41);
  for (int i = 34; i < kZAMessageCount; ++i) EXPECT_STREQ(ZAMessages[i], "") << i;
  for (int code = 0; code <= 56; ++code) {
    EXPECT_EQ(ZACodeTable[code].Code, code);
    int index = MessageIndexForCode(code);
    EXPECT_GE(index, 0);
    EXPECT_LT(index, 34) << code;
  }
  // The filler pairs hold -1; a -1 code must not pick index -1 from them.
  for (int code : {-1, -2, -100000, 57, 99, 100000, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(MessageIndexForCode(code), 0) << code;
  }
  EXPECT_STREQ(MessageText(-1), "Unknown error");
  EXPECT_STREQ(MessageText(41), "Unknown error");
}

TEST(ZAMessages, TextsOfNamedCodes) {
  struct Case {
    int code;
    int index;
    const char* text;
  } cases[] = {
      {0, 0, "Unknown error"},
      {1, 1, "Index out of bounds"},
      {24, 1, "Index out of bounds"},
      {5, 2, "Invalid compression mode. Mode must be in [0-9] range"},
      {29, 5, "File name is blank. Specify appropriate file name"},
      {54, 6, "File \"%s\" not found"},
      {14, 7, "Archive is not open"},
      {37, 20, "Archive is open. You should close it beore performing this operation."},
      {43, 23, "Cannot compress file '%s'. Zip64 mode is not enabled"},
      {45, 24, "Cannot open archive file. Opening aborted or invalid file"},
      {55, 32, "Deflate64 compression method is not supported"},
      {56, 33, "MakeSFX error"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageIndexForCode(c.code), c.index) << c.code;
    EXPECT_STREQ(MessageText(c.index), c.text) << c.code;
  }
}

TEST(EZAException, ComposesNamePrefixTextAndFiveDigitCode) {
  TZipArchiver named;
  named.Name = "ZipArchiver1";
  TZipArchiver unnamed;
  struct Case {
    int code;
    const TZABaseArchiver* component;
    int errorCode;
    const char* message;
  } cases[] = {
      {13, &named, 7, "ZipArchiver1: Archive is not open - Native error: 00013"},
      {13, &unnamed, 7, "Archive is not open - Native error: 00013"},
      {35, nullptr, 18, "Invalid archive file. - Native error: 00035"},
      {1, nullptr, 1, "Index out of bounds - Native error: 00001"},
      {2, nullptr, 1, "Index out of bounds - Native error: 00002"},
      {3, nullptr, 1, "Index out of bounds - Native error: 00003"},
      {4, nullptr, 1, "Index out of bounds - Native error: 00004"},
      {99, nullptr, 0, "Unknown error - Native error: 00099"},
      {-1, nullptr, 0, "Unknown error - Native error: 000-1"},
      {123456, &named, 0, "ZipArchiver1: Unknown error - Native error: 123456"},
  };
  for (const auto& c : cases) {
    EZAException e = EZAException::CreateForCode(c.code, c.component);
    EXPECT_EQ(e.NativeError, c.code);
    EXPECT_EQ(e.ErrorCode, c.errorCode) << c.code;
    EXPECT_STREQ(e.what(), c.message);
  }
}

TEST(EZAException, FormatArgumentsAreValuesNeverFormats) {
  TZipArchiver zip;
  zip.Name = "Zip";
  EXPECT_STREQ(EZAException::CreateForCodeFmt(12, &zip, {"/data/a.zip"}).what(),
               "Zip: File \"/data/a.zip\" not found - Native error: 00012");
  // A file name full of conversions is copied as it stands.
  EXPECT_STREQ(EZAException::CreateForCodeFmt(19, nullptr, {"%s%d%n%%.zip"}).what(),
               "Cannot create file \"%s%d%n%%.zip\" - Native error: 00019");
  // 64-bit values in full; extra arguments ignored; missing ones leave the conversion.
  EXPECT_STREQ(EZAException::CreateForCodeFmt(34, nullptr, {int64_t(5000000000), int64_t(-7), "extra"}).what(),
               "Invalid compressed size, rfs.size = 5000000000, count = -7 - Native error: 00034");
  EXPECT_STREQ(EZAException::CreateForCodeFmt(34, nullptr, {1}).what(),
               "Invalid compressed size, rfs.size = 1, count = %d - Native error: 00034");
}

TEST(FormatText, ConversionsWidthsAndPrecision) {
  EXPECT_EQ(FormatText("%5d", {35}), "   35");
  EXPECT_EQ(FormatText("%.3u", {7u}), "007");
  EXPECT_EQ(FormatText("%.2d", {10}), "10");
  EXPECT_EQ(FormatText("%-4s|", {"ab"}), "ab  |");
  EXPECT_EQ(FormatText("%05d", {-42}), "-0042");
  EXPECT_EQ(FormatText("%x", {255u}), "FF");
  EXPECT_EQ(FormatText("%d", {uint64_t(18446744073709551615ull)}), "18446744073709551615");
  EXPECT_EQ(FormatText("%d", {INT64_MIN}), "-9223372036854775808");
  EXPECT_EQ(FormatText("100%% %q %", {1}), "100% %q %");
  EXPECT_EQ(FormatText("%s and %d", {12, "x"}), "12 and x");
  EXPECT_EQ(FormatText("%.2f", {2.654}), "2.65");
}
