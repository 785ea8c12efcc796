#include "updater/ziparchive/zarecords.h"

#include <gtest/gtest.h>

using namespace ziparchive;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) { return {v.begin(), v.end()}; }

}  // namespace

TEST(ZipRecords, EndRecordFieldsSitAtTheirOffsets) {
  const auto raw = Bytes({0x50, 0x4b, 0x05, 0x06, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00,
                          0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e});
  TZAEndRecord r;
  DecodeEndRecord(raw.data(), r);
  EXPECT_EQ(r.Signature, kEndRecordSignature);
  EXPECT_EQ(r.ThisVolume, 1);
  EXPECT_EQ(r.DirStartVolume, 2);
  EXPECT_EQ(r.EntriesOnVolume, 3);
  EXPECT_EQ(r.TotalEntries, 4);
  EXPECT_EQ(r.DirSize, 0x08070605u);
  EXPECT_EQ(r.DirOffset, 0x0c0b0a09u);
  EXPECT_EQ(r.CommentLength, 0x0e0d);
  std::vector<uint8_t> back(kEndRecordSize);
  EncodeEndRecord(r, back.data());
  EXPECT_EQ(back, raw);
}

TEST(ZipRecords, Zip64RecordsRoundTripWithFull64BitValues) {
  TZAZip64EndRecord e;
  e.ThisVolume = 7;
  e.DirStartVolume = 0x01020304;
  e.EntriesOnVolume = 0x1122334455667788ull;
  e.TotalEntries = 0x8877665544332211ull;
  e.DirSize = 0x0102030405060708ull;
  e.DirOffset = 0xF0E0D0C0B0A09080ull;
  std::vector<uint8_t> raw(kZip64EndRecordSize);
  EncodeZip64EndRecord(e, raw.data());
  EXPECT_EQ(GetU32(raw.data()), kZip64EndRecordSignature);
  EXPECT_EQ(GetU64(raw.data() + 4), 44u);
  EXPECT_EQ(GetU16(raw.data() + 12), 45);
  EXPECT_EQ(GetU64(raw.data() + 48), e.DirOffset);
  TZAZip64EndRecord d;
  DecodeZip64EndRecord(raw.data(), d);
  EXPECT_EQ(d.DirStartVolume, e.DirStartVolume);
  EXPECT_EQ(d.EntriesOnVolume, e.EntriesOnVolume);
  EXPECT_EQ(d.TotalEntries, e.TotalEntries);
  EXPECT_EQ(d.DirSize, e.DirSize);

  TZAZip64Locator l;
  l.Zip64EndVolume = 3;
  l.Zip64EndOffset = 0x123456789ABCull;
  l.TotalVolumes = 4;
  std::vector<uint8_t> lraw(kZip64LocatorSize);
  EncodeZip64Locator(l, lraw.data());
  TZAZip64Locator ld;
  DecodeZip64Locator(lraw.data(), ld);
  EXPECT_EQ(ld.Signature, kZip64LocatorSignature);
  EXPECT_EQ(ld.Zip64EndVolume, 3u);
  EXPECT_EQ(ld.Zip64EndOffset, l.Zip64EndOffset);
  EXPECT_EQ(ld.TotalVolumes, 4u);
}

namespace {
struct Header {
  uint32_t Signature, Crc32, CompressedSize, UncompressedSize, ExternalAttributes, LocalHeaderOffset;
  uint16_t VersionMadeBy, VersionNeeded, Flags, CompressionMethod, LastModTime, LastModDate,
      NameLength, ExtraLength, CommentLength, DiskNumberStart, InternalAttributes;
};
}  // namespace

TEST(ZipRecords, CentralHeaderEveryFieldAtItsOwnOffset) {
  // Byte i of the header holds i, so each field decodes to a value naming its offset.
  std::vector<uint8_t> raw(kCentralHeaderSize);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i);
  Header h{};
  DecodeCentralHeader(raw.data(), h);
  EXPECT_EQ(h.VersionMadeBy, 0x0504);
  EXPECT_EQ(h.CompressionMethod, 0x0b0a);
  EXPECT_EQ(h.Crc32, 0x13121110u);
  EXPECT_EQ(h.UncompressedSize, 0x1b1a1918u);
  EXPECT_EQ(h.NameLength, 0x1d1c);
  EXPECT_EQ(h.CommentLength, 0x2120);
  EXPECT_EQ(h.ExternalAttributes, 0x29282726u);
  EXPECT_EQ(h.LocalHeaderOffset, 0x2d2c2b2au);
  std::vector<uint8_t> back(kCentralHeaderSize);
  EncodeCentralHeader(h, back.data());
  EXPECT_EQ(back, raw);
}

TEST(ZipRecords, ExtraFieldWalkStaysInsideTheArea) {
  struct Case {
    const char* what;
    std::vector<uint8_t> area;
    std::vector<std::pair<uint16_t, size_t>> fields;  // id, data size
  } cases[] = {
      {"two whole fields", Bytes({0x01, 0x00, 0x02, 0x00, 0xAA, 0xBB, 0x55, 0x54, 0x01, 0x00, 0x07}),
       {{1, 2}, {0x5455, 1}}},
      {"data size past the end is cut", Bytes({0x0a, 0x00, 0xFF, 0xFF, 1, 2, 3}), {{10, 3}}},
      {"header cut short ends the walk", Bytes({0x0a, 0x00, 0x00, 0x00, 0x01, 0x00, 0x05}), {{10, 0}}},
      {"empty area", {}, {}},
  };
  for (const auto& c : cases) {
    auto got = SplitExtraFields(c.area.data(), c.area.size());
    ASSERT_EQ(got.size(), c.fields.size()) << c.what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].HeaderId, c.fields[i].first) << c.what;
      EXPECT_EQ(got[i].Data.size(), c.fields[i].second) << c.what;
    }
  }
}

TEST(ZipRecords, Zip64ValuesOnlyForSaturatedFields) {
  auto data = BuildZip64Field(true, 0x100000000ull, false, 0, true, 0x200000000ull, true, 9);
  ASSERT_EQ(data.size(), 8u + 8u + 4u);
  // Read back with the same saturation: the compressed size is absent, the offset follows.
  auto v = ParseZip64Field(data, true, false, true, true);
  EXPECT_TRUE(v.HasUncompressedSize && v.HasLocalHeaderOffset && v.HasDiskNumberStart);
  EXPECT_FALSE(v.HasCompressedSize);
  EXPECT_EQ(v.UncompressedSize, 0x100000000ull);
  EXPECT_EQ(v.LocalHeaderOffset, 0x200000000ull);
  EXPECT_EQ(v.DiskNumberStart, 9u);
  // No saturated field: nothing is taken even though the field has data.
  auto none = ParseZip64Field(data, false, false, false, false);
  EXPECT_FALSE(none.HasUncompressedSize || none.HasCompressedSize || none.HasLocalHeaderOffset ||
               none.HasDiskNumberStart);
  // A field too short for the value that is asked for gives no value.
  auto shortField = ParseZip64Field(std::vector<uint8_t>(5, 0xFF), true, false, false, false);
  EXPECT_FALSE(shortField.HasUncompressedSize);
  EXPECT_TRUE(BuildZip64Field(false, 1, false, 2, false, 3, false, 4).empty());
}
