// The data loops on memory sources and sinks: CRC-32, stored and raw-deflate data, and the
// checks that keep a lying or damaged entry from passing or from filling the disk.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "updater/ziparchive/zaentrydata.h"

using namespace ziparchive;

namespace {

class BytesSource : public TZADataSource {
 public:
  explicit BytesSource(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t ReadData(void* buffer, int64_t count) override {
    const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(bytes_.size() - pos_));
    std::memcpy(buffer, bytes_.data() + pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return n;
  }
  size_t pos_ = 0;

 private:
  std::string bytes_;
};

class BytesSink : public TZADataSink {
 public:
  bool WriteData(const void* buffer, int64_t count) override {
    if (failAfter >= 0 && static_cast<int64_t>(bytes.size()) + count > failAfter) return false;
    bytes.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return true;
  }
  std::string bytes;
  int64_t failAfter = -1;
};

uint32_t Crc(const std::string& s) { return UpdateCrc32Long(0xFFFFFFFFu, s.data(), s.size()) ^ 0xFFFFFFFFu; }

std::string RawDeflate(const std::string& data, int level = 6) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Text and random bytes mixed, so that both literal and match paths run.
std::string MixedData(size_t n, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    if (rng() % 2) {
      s += "the quick brown fox jumps over the lazy dog " + std::to_string(rng() % 1000) + "\n";
    } else {
      for (int i = 0; i < 200; ++i) s.push_back(static_cast<char>(rng()));
    }
  }
  s.resize(n);
  return s;
}

TZADataOutcome Decode(const std::string& data, uint16_t method, int64_t compressed, int64_t size,
                      uint32_t crc, BytesSink& sink, const TZADataProgress* progress = nullptr) {
  BytesSource src(data);
  TZAInflateJob job;
  job.Method = method;
  job.CompressedSize = compressed;
  job.UncompressedSize = size;
  job.Crc32 = crc;
  job.Progress = progress;
  return DecodeEntryData(src, sink, job);
}

}  // namespace

TEST(Crc32, MatchesTheStandardCheckValueAndIgnoresEmptyInput) {
  const std::string check = "123456789";
  EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, check.data(), 9) ^ 0xFFFFFFFFu, 0xCBF43926u);
  uint32_t crc = 0xFFFFFFFFu;
  AddCrc32(check.data(), 4, crc);
  AddCrc32(check.data() + 4, 5, crc);
  EXPECT_EQ(crc ^ 0xFFFFFFFFu, 0xCBF43926u);
  EXPECT_EQ(UpdateCrc32(0x1234u, nullptr, 10), 0x1234u);
  EXPECT_EQ(UpdateCrc32(0x1234u, check.data(), 0), 0x1234u);
  EXPECT_EQ(UpdateCrc32(0x1234u, check.data(), -5), 0x1234u);
}

TEST(Crc32, AgreesWithZlibForEveryLengthAndAlignment) {
  std::mt19937 rng(3);
  std::string data(70000, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  const size_t lengths[] = {0, 1, 15, 16, 63, 64, 65, 255, 256, 257, 1000, 4096, 4099, 65536, 69990};
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t n : lengths) {
      const auto* p = reinterpret_cast<const Bytef*>(data.data() + offset);
      const uint32_t want = static_cast<uint32_t>(crc32_z(0, p, n));
      EXPECT_EQ(UpdateCrc32Long(0xFFFFFFFFu, p, n) ^ 0xFFFFFFFFu, want) << "offset " << offset << " length " << n;
      // Split anywhere, the running value carries on.
      const size_t cut = n / 3;
      const uint32_t first = UpdateCrc32Long(0xFFFFFFFFu, p, cut);
      EXPECT_EQ(UpdateCrc32Long(first, p + cut, n - cut) ^ 0xFFFFFFFFu, want);
    }
  }
}

TEST(DecodeEntryData, GoodAndBadDataTable) {
  const std::string text = MixedData(300000);
  const std::string packed = RawDeflate(text);
  const auto plen = static_cast<int64_t>(packed.size());
  const auto tlen = static_cast<int64_t>(text.size());
  const uint32_t crc = Crc(text);
  std::string corrupt = packed;
  corrupt[10] ^= 0x55;
  corrupt[11] ^= 0xAA;
  struct Case {
    const char* name;
    std::string data;
    uint16_t method;
    int64_t compressed, size;
    uint32_t crc;
    TZADataStatus want;
  };
  const Case cases[] = {
      {"deflated", packed, 8, plen, tlen, crc, TZADataStatus::Ok},
      {"stored", text, 0, tlen, tlen, crc, TZADataStatus::Ok},
      {"empty stored", "", 0, 0, 0, 0, TZADataStatus::Ok},
      {"empty deflated stream", RawDeflate(""), 8, 2, 0, 0, TZADataStatus::Ok},
      {"bytes after the deflate stream", packed + std::string(5000, 'J'), 8, plen + 5000, tlen, crc, TZADataStatus::Ok},
      {"stream cut short", packed.substr(0, packed.size() / 2), 8, plen / 2, tlen, crc, TZADataStatus::InflateError},
      {"archive ends early", packed.substr(0, 100), 8, plen, tlen, crc, TZADataStatus::ReadShort},
      {"corrupt stream", corrupt, 8, plen, tlen, crc, TZADataStatus::InflateError},
      {"declared size too small", packed, 8, plen, tlen - 1, crc, TZADataStatus::TooLong},
      {"declared size too large", packed, 8, plen, tlen + 1, crc, TZADataStatus::SizeMismatch},
      {"stored longer than declared", text, 0, tlen, 10, crc, TZADataStatus::TooLong},
      {"wrong crc", packed, 8, plen, tlen, crc ^ 1, TZADataStatus::CrcMismatch},
      {"method 1", packed, 1, plen, tlen, crc, TZADataStatus::UnsupportedMethod},
      {"method 12", packed, 12, plen, tlen, crc, TZADataStatus::UnsupportedMethod},
      {"method 99", packed, 99, plen, tlen, crc, TZADataStatus::UnsupportedMethod},
      {"negative size", packed, 8, -1, tlen, crc, TZADataStatus::BadRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BytesSink sink;
    const TZADataOutcome out = Decode(c.data, c.method, c.compressed, c.size, c.crc, sink);
    EXPECT_EQ(out.Status, c.want) << DataStatusText(out.Status);
    EXPECT_EQ(out.Written, static_cast<int64_t>(sink.bytes.size()));
    EXPECT_LE(out.Written, std::max<int64_t>(c.size, 0));
    if (c.want == TZADataStatus::Ok) {
      EXPECT_EQ(sink.bytes, c.method == 8 ? (c.size ? text : std::string()) : c.data);
    }
  }
}

// Each entry starts from a clean inflate state, whatever the one before left, and an entry
// decoded from a progress handler in the middle of another leaves that one whole.
TEST(DecodeEntryData, EntriesOneAfterAnotherAndOneWithinAnother) {
  const std::string text = MixedData(400000, 2);
  const std::string packed = RawDeflate(text);
  const std::string small = "a small entry, a small entry, a small entry";
  const std::string smallPacked = RawDeflate(small);
  const auto plen = static_cast<int64_t>(packed.size());
  const auto tlen = static_cast<int64_t>(text.size());
  BytesSink cut;
  EXPECT_EQ(Decode(packed.substr(0, packed.size() / 3), 8, plen / 3, tlen, Crc(text), cut).Status,
            TZADataStatus::InflateError);
  int inner = 0;
  const TZADataProgress progress = [&](int64_t, int64_t) {
    BytesSink nested;
    EXPECT_EQ(Decode(smallPacked, 8, static_cast<int64_t>(smallPacked.size()), static_cast<int64_t>(small.size()),
                     Crc(small), nested).Status, TZADataStatus::Ok);
    EXPECT_EQ(nested.bytes, small);
    ++inner;
    return true;
  };
  BytesSink outer;
  EXPECT_EQ(Decode(packed, 8, plen, tlen, Crc(text), outer, &progress).Status, TZADataStatus::Ok);
  EXPECT_EQ(outer.bytes, text);
  EXPECT_GT(inner, 0);
}

// Raw deflate data for `megabytes` MiB of zeros: one fully flushed segment repeated, then the
// final block. About 1 KB per MiB.
std::string ZeroBomb(size_t megabytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string zeros(1 << 20, '\0');
  std::vector<char> buf(1 << 16);
  auto run = [&](int flush, const std::string& in) {
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    do {
      z.next_out = reinterpret_cast<Bytef*>(buf.data());
      z.avail_out = static_cast<uInt>(buf.size());
      deflate(&z, flush);
      out.append(buf.data(), buf.size() - z.avail_out);
    } while (z.avail_out == 0);
    return out;
  };
  const std::string segment = run(Z_FULL_FLUSH, zeros);
  std::string packed;
  for (size_t i = 0; i < megabytes; ++i) packed += segment;
  packed += run(Z_FINISH, std::string());
  deflateEnd(&z);
  return packed;
}

TEST(DecodeEntryData, BombStopsAtTheDeclaredSizeWithoutReadingOn) {
  // 4 GiB of zeros in about 4 MB; the entry claims 1000 bytes.
  const std::string packed = ZeroBomb(4096);
  BytesSink sink;
  BytesSource src(packed);
  TZAInflateJob job;
  job.Method = 8;
  job.CompressedSize = static_cast<int64_t>(packed.size());
  job.UncompressedSize = 1000;
  const TZADataOutcome out = DecodeEntryData(src, sink, job);
  EXPECT_EQ(out.Status, TZADataStatus::TooLong);
  EXPECT_LE(sink.bytes.size(), 1000u);
  EXPECT_LT(src.pos_, packed.size() / 4);  // stopped at once, not after inflating it all

  // The same stream is sound when its size is told truly.
  BytesSource again(ZeroBomb(8));
  BytesSink discard;
  job.CompressedSize = static_cast<int64_t>(ZeroBomb(8).size());
  job.UncompressedSize = 8 << 20;
  job.Crc32 = Crc(std::string(8 << 20, '\0'));
  EXPECT_EQ(DecodeEntryData(again, discard, job).Status, TZADataStatus::Ok);
}

TEST(DecodeEntryData, WriteFailureAndCancelAreReported) {
  const std::string text = MixedData(3 << 20, 7);
  const std::string packed = RawDeflate(text);
  {
    BytesSink sink;
    sink.failAfter = 100000;
    EXPECT_EQ(Decode(packed, 8, packed.size(), text.size(), Crc(text), sink).Status, TZADataStatus::WriteShort);
  }
  {
    BytesSink sink;
    std::vector<std::pair<int64_t, int64_t>> calls;
    const TZADataProgress progress = [&](int64_t done, int64_t total) {
      calls.emplace_back(done, total);
      return calls.size() < 3;
    };
    const TZADataOutcome out = Decode(packed, 8, packed.size(), text.size(), Crc(text), sink, &progress);
    EXPECT_EQ(out.Status, TZADataStatus::Cancelled);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].first, 0);
    EXPECT_GT(calls[1].first, 0);
    EXPECT_EQ(calls[0].second, static_cast<int64_t>(packed.size()));
  }
}

TEST(EncodeEntryData, RoundTripsEverySizeAroundTheBlockAndEveryLevel) {
  const size_t block = 0x80000;
  struct Case {
    size_t size;
    int level;
    uint16_t method;
  };
  const Case cases[] = {{1, 6, 8},         {100, 1, 8},         {block, 1, 8}, {block - 1, 6, 8},
                        {block + 1, 9, 8}, {3 * block + 7, 6, 8}, {70000, 0, 8}, {block * 2, 6, 0},
                        {5, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " level " + std::to_string(c.level) + " method " + std::to_string(c.method));
    const std::string text = MixedData(c.size, static_cast<unsigned>(c.size));
    BytesSource src(text);
    BytesSink packed;
    TZADeflateJob job;
    job.Method = c.method;
    job.Level = c.level;
    job.SourceSize = static_cast<int64_t>(text.size());
    job.BlockSize = block;
    const TZADataOutcome enc = EncodeEntryData(src, packed, job);
    ASSERT_EQ(enc.Status, TZADataStatus::Ok);
    EXPECT_EQ(enc.Read, static_cast<int64_t>(text.size()));
    EXPECT_EQ(enc.Written, static_cast<int64_t>(packed.bytes.size()));
    EXPECT_EQ(enc.Crc32, Crc(text));
    EXPECT_LE(packed.bytes.size(), DeflateBound(text.size()));
    if (c.method == 0) {
      EXPECT_EQ(packed.bytes, text);
    }
    // Raw deflate: zlib with negative window bits inflates it to the end of its stream, and
    // nothing follows the stream.
    BytesSink back;
    const TZADataOutcome dec = Decode(packed.bytes, c.method, enc.Written, text.size(), enc.Crc32, back);
    EXPECT_EQ(dec.Status, TZADataStatus::Ok) << DataStatusText(dec.Status);
    EXPECT_EQ(dec.Read, enc.Written);
    EXPECT_EQ(back.bytes, text);
  }
}

TEST(EncodeEntryData, ShortSourceAndCancelLeaveReadBelowTheSize) {
  const std::string text = MixedData(2 << 20);
  {
    BytesSource src(text.substr(0, 1 << 20));
    BytesSink sink;
    TZADeflateJob job;
    job.SourceSize = static_cast<int64_t>(text.size());
    job.BlockSize = 0x80000;
    const TZADataOutcome out = EncodeEntryData(src, sink, job);
    EXPECT_EQ(out.Status, TZADataStatus::ReadShort);
    EXPECT_EQ(out.Read, 1 << 20);
  }
  {
    BytesSource src(text);
    BytesSink sink;
    int calls = 0;
    const TZADataProgress progress = [&](int64_t, int64_t) { return ++calls < 2; };
    TZADeflateJob job;
    job.SourceSize = static_cast<int64_t>(text.size());
    job.BlockSize = 0x80000;
    job.Progress = &progress;
    const TZADataOutcome out = EncodeEntryData(src, sink, job);
    EXPECT_EQ(out.Status, TZADataStatus::Cancelled);
    EXPECT_EQ(out.Read, 0x80000);
  }
}
