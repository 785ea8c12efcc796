#include <gtest/gtest.h>

#include <malloc.h>

#include <functional>
#include <memory>

#include "tests/updater/ziparchive/zipbuilder.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"

using namespace ziparchive;
using namespace zipbuilder;

namespace {

std::vector<uint8_t> DataOf(const TZAExtraFieldView& f) { return {f.Data.begin(), f.Data.end()}; }

// A memory stream that counts the bytes read from it.
class CountingStream : public TZAMemoryStream {
 public:
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = TZAMemoryStream::Read(buffer, count);
    bytesRead += n;
    return n;
  }
  int64_t bytesRead = 0;
};

struct Opened {
  std::unique_ptr<CountingStream> stream;
  std::unique_ptr<TZADirManager> dir;
};

Opened open(const std::string& bytes) {
  Opened o;
  o.stream = std::make_unique<CountingStream>();
  o.stream->WriteBuffer(bytes.data(), int64_t(bytes.size()));
  o.stream->SetPosition(0);
  o.stream->bytesRead = 0;
  o.dir = std::make_unique<TZADirManager>(o.stream.get(), nullptr, false);
  return o;
}

Entry file(const std::string& name, const std::string& data) { return fileEntry(name, data); }
Entry folder(const std::string& name) {
  Entry e;
  e.name = name;
  e.attributes = 0x10;
  return e;
}
Entry streamed(const std::string& name, const std::string& data) {
  Entry e = file(name, data);
  e.descriptor = true;
  return e;
}

EndOptions withComment(const std::string& comment) {
  EndOptions o;
  o.comment = comment;
  return o;
}
EndOptions withZip64() {
  EndOptions o;
  o.zip64 = true;
  return o;
}
EndOptions withCount(int64_t count) {
  EndOptions o;
  o.totalEntries = count;
  return o;
}
EndOptions withDirSize(int64_t size) {
  EndOptions o;
  o.dirSize = size;
  return o;
}

std::string twoEntries(const EndOptions& o = {}) {
  Builder b;
  b.add(file("a.txt", "alpha")).add(folder("d/")).add(file("d/b.txt", "bravo!"));
  return b.finish(o);
}

// Two files with one field of the second central header overwritten.
std::string secondHeaderPatched(size_t field, uint64_t value, int width) {
  Builder b;
  b.add(file("a", "1")).add(file("b", "2"));
  std::string z = b.finish();
  patch(z, b.centralAt[1] + field, value, width);
  return z;
}

// The archive without its directory: what a cut download leaves.
std::string withoutDirectory(Builder& b) { return b.bytes; }

std::vector<std::string> names(const TZADirManager& m) {
  std::vector<std::string> v;
  for (int i = 0; i < m.CurrentDir.DirItemCount(); ++i) v.emplace_back(m.CurrentDir.DirItemAt(i).Name());
  return v;
}

enum class Outcome { Read, NoEndRecord, Error };

struct Case {
  const char* what;
  std::function<std::string()> make;
  Outcome outcome;
  int code;  // for Error
  std::function<void(const TZADirManager&)> check;
};

}  // namespace

TEST(ZipDirectoryRead, RecordTable) {
  const std::string stub(1000, 'S');
  const Case cases[] = {
      {"65535-byte comment", [] { return twoEntries(withComment(std::string(65535, 'c'))); }, Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_EQ(m.ArchiveComment, std::string(65535, 'c'));
         EXPECT_EQ(names(m), (std::vector<std::string>{"a.txt", "d/", "d/b.txt"}));
       }},
      {"a byte after the comment", [] { return twoEntries(withComment("note")) + "x"; }, Outcome::NoEndRecord, 0,
       nullptr},
      {"junk after the end record", [] { return twoEntries() + std::string(300, 'J'); }, Outcome::NoEndRecord, 0,
       nullptr},
      {"false record inside the comment",
       [] {
         // A record in the comment whose own comment length reaches the end of the file.
         std::string fake;
         put32(fake, kEndRecordSignature);
         put16(fake, 0), put16(fake, 0), put16(fake, 7), put16(fake, 7);
         put32(fake, 100), put32(fake, 0), put16(fake, 5);
         return twoEntries(withComment("pre" + fake + "12345"));
       },
       Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_EQ(m.CurrentDir.DirItemCount(), 3);
         EXPECT_EQ(m.ArchiveComment.size(), 3u + 22u + 5u);
       }},
      {"stub before a normal archive", [stub] { return stub + twoEntries(); }, Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_EQ(m.StubSize, 1000);
         // Every local header offset moves with the stub, folders included.
         EXPECT_EQ(m.CurrentDir.DirItemAt(0).LocalHeaderOffset, 1000u);
         EXPECT_EQ(m.CurrentDir.DirItemAt(1).LocalHeaderOffset, 1000u + 30 + 5 + 5);
         EXPECT_GT(m.CurrentDir.DirItemAt(2).LocalHeaderOffset, m.CurrentDir.DirItemAt(1).LocalHeaderOffset);
       }},
      {"streamed archive, bit 3 on every entry",
       [] {
         Builder b;
         b.add(streamed("s1", "one")).add(streamed("s2", "two"));
         return b.finish();
       },
       Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_EQ(m.StubSize, 0);
         EXPECT_EQ(m.CurrentDir.DirItemAt(1).LocalHeaderOffset, 30u + 2 + 3 + 16);
         EXPECT_EQ(m.CurrentDir.DirItemAt(1).CompressedSize, 3u);
       }},
      {"Zip64 end records", [] { return twoEntries(withZip64()); }, Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_TRUE(m.IsZip64);
         EXPECT_EQ(m.CurrentDir.DirItemCount(), 3);
         EXPECT_EQ(m.Zip64EndRecordFields().TotalEntries, 3u);
       }},
      {"Zip64 archive behind a stub", [stub] { return stub + twoEntries(withZip64()); }, Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_TRUE(m.IsZip64);
         EXPECT_EQ(m.StubSize, 1000);
         EXPECT_EQ(m.CurrentDir.DirItemAt(2).Name(), "d/b.txt");
       }},
      {"no entries", [] { return Builder().finish(); }, Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_EQ(m.CurrentDir.DirItemCount(), 0);
         EXPECT_EQ(m.StubSize, 0);
       }},
      {"no entries behind a stub", [] { return std::string(77, 'S') + Builder().finish(); }, Outcome::Read, 0,
       [](const TZADirManager& m) { EXPECT_EQ(m.StubSize, 77); }},
      {"count far above what the directory holds", [] { return twoEntries(withCount(0xFFFF)); },
       Outcome::Error, 35, nullptr},
      {"Zip64 count far above what the directory holds",
       [] {
         std::string z = twoEntries(withZip64());
         // Total entries of the Zip64 record: 2^40.
         patch(z, z.size() - 22 - 20 - 56 + 32, uint64_t(1) << 40, 8);
         return z;
       },
       Outcome::Error, 35, nullptr},
      {"directory size past its position", [] { return twoEntries(withDirSize(1 << 20)); }, Outcome::NoEndRecord, 0,
       nullptr},
      {"Zip64 directory size past its position",
       [] {
         std::string z = twoEntries(withZip64());
         patch(z, z.size() - 22 - 20 - 56 + 40, uint64_t(1) << 50, 8);
         return z;
       },
       Outcome::Error, 35, nullptr},
      {"Zip64 locator pointing past the file and no record before it",
       [] {
         std::string z = twoEntries(withZip64());
         patch(z, z.size() - 22 - 20 - 56, 0, 4);        // no record signature in front
         patch(z, z.size() - 22 - 20 + 8, 1ull << 60, 8);  // and a locator offset far away
         return z;
       },
       Outcome::Error, 40, nullptr},
      {"bad signature of a later central entry", [] { return secondHeaderPatched(0, 0x12345678, 4); },
       Outcome::Error, 35, nullptr},
      {"name running past the directory", [] { return secondHeaderPatched(28, 0xF000, 2); }, Outcome::Error, 35,
       nullptr},
      {"extra field header cut short",
       [] {
         Builder b;
         Entry e = file("x", "data");
         e.centralExtra = extraField(0x5455, "abc") + std::string("\x0A\x00", 2);
         b.add(e);
         return b.finish();
       },
       Outcome::Read, 0,
       [](const TZADirManager& m) {
         const TDirItem& item = m.CurrentDir.DirItemAt(0);
         ASSERT_EQ(item.ExtraFields().size(), 1u);
         EXPECT_EQ(item.ExtraFields()[0].HeaderId, 0x5455);
         EXPECT_EQ(DataOf(item.ExtraFields()[0]), (std::vector<uint8_t>{'a', 'b', 'c'}));
       }},
      {"Zip64 field while the 32-bit sizes are not saturated",
       [] {
         Builder b;
         Entry e = file("x", "data");
         std::string v;
         put64(v, 0x123456789ull);
         e.centralExtra = extraField(1, v);
         b.add(e);
         return b.finish();
       },
       Outcome::Read, 0,
       [](const TZADirManager& m) {
         const TDirItem& item = m.CurrentDir.DirItemAt(0);
         EXPECT_TRUE(item.HasZip64);
         EXPECT_EQ(item.UncompressedSize, 4u);
         EXPECT_EQ(EffectiveUncompressedSize(item), 4);
         EXPECT_EQ(item.ExtraFields().size(), 1u);
       }},
      {"saturated size without a Zip64 value is taken literally",
       [] {
         Builder b;
         b.add(file("x", "data"));
         std::string z = b.finish();
         patch(z, b.centralAt[0] + 24, 0xFFFFFFFF, 4);
         return z;
       },
       Outcome::Read, 0,
       [](const TZADirManager& m) { EXPECT_EQ(EffectiveUncompressedSize(m.CurrentDir.DirItemAt(0)), 0xFFFFFFFFll); }},
      {"Zip64 value 0 for a saturated offset",
       [] {
         Builder b;
         Entry e = file("x", "data");
         e.centralExtra = extraField(1, std::string(8, '\0'));
         b.add(e);
         std::string z = b.finish();
         patch(z, b.centralAt[0] + 42, 0xFFFFFFFF, 4);
         return z;
       },
       Outcome::Read, 0,
       [](const TZADirManager& m) {
         EXPECT_EQ(EffectiveLocalHeaderOffset(m.CurrentDir.DirItemAt(0)), 0);
         EXPECT_EQ(m.StubSize, 0);
       }},
      {"Zip64 offset outside the file",
       [] {
         Builder b;
         Entry e = file("x", "data");
         std::string v;
         put64(v, 1ull << 40);
         e.centralExtra = extraField(1, v);
         b.add(e);
         std::string z = b.finish();
         patch(z, b.centralAt[0] + 42, 0xFFFFFFFF, 4);
         return z;
       },
       Outcome::Error, 35, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Opened o = open(c.make());
    if (c.outcome == Outcome::NoEndRecord) {
      std::array<uint8_t, kEndRecordSize> record{};
      int64_t offset = 0;
      EXPECT_FALSE(o.dir->ReadEndOfCentralDir(record, offset));
      EXPECT_EQ(offset, -1);
      continue;
    }
    if (c.outcome == Outcome::Error) {
      try {
        o.dir->ReadCentralDir();
        ADD_FAILURE() << "no exception";
      } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError, c.code);
      }
      continue;
    }
    ASSERT_NO_THROW(o.dir->ReadCentralDir());
    c.check(*o.dir);
  }
}

TEST(ZipDirectoryRead, StreamedArchiveOpensWithoutReadingItsData) {
  Builder b;
  const std::string big(4 << 20, 'd');
  b.add(streamed("big1", big)).add(streamed("big2", big));
  Opened o = open(b.finish());
  o.dir->ReadCentralDir();
  EXPECT_EQ(o.dir->CurrentDir.DirItemCount(), 2);
  EXPECT_LT(o.stream->bytesRead, 200000);
}

TEST(ZipDirectoryRead, RebuildFromLocalHeaders) {
  struct Rebuild {
    const char* what;
    std::function<std::string()> make;
    std::vector<std::string> names;
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> attributes;
  };
  const Rebuild cases[] = {
      {"truncated in the last entry's data",
       [] {
         Builder b;
         b.add(file("one.txt", std::string(1000, 'o'))).add(file("two.txt", std::string(500, 't')));
         return b.bytes.substr(0, b.bytes.size() - 100);
       },
       {"one.txt", "two.txt"}, {1000, 500}, {0x20, 0x20}},
      {"stored nested archive gives no phantom entries",
       [] {
         Builder inner;
         inner.add(file("inner1", "x")).add(file("inner2", "y"));
         Builder b;
         b.add(file("nested.zip", inner.finish())).add(file("after.txt", "z"));
         return withoutDirectory(b);
       },
       {"nested.zip", "after.txt"}, {0, 1}, {0x20, 0x20}},
      {"empty file and folder",
       [] {
         Builder b;
         b.add(file("empty.txt", "")).add(folder("sub/"));
         return withoutDirectory(b);
       },
       {"empty.txt", "sub/"}, {0, 0}, {0x20, 0x10}},
      {"descriptor found after a false one in the data",
       [] {
         std::string data = "ab";
         put32(data, kDataDescriptorSignature);
         data += std::string(12, '\x01') + "tail";
         Builder b;
         b.add(streamed("s.bin", data)).add(file("next", "n"));
         return withoutDirectory(b);
       },
       {"s.bin", "next"}, {2 + 4 + 12 + 4, 1}, {0x20, 0x20}},
  };
  for (const Rebuild& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = c.make();
    Opened o = open(bytes);
    ASSERT_NO_THROW(o.dir->ReadCentralDir());
    EXPECT_EQ(names(*o.dir), c.names);
    for (size_t i = 0; i < c.names.size() && int(i) < o.dir->CurrentDir.DirItemCount(); ++i) {
      const TDirItem& item = o.dir->CurrentDir.DirItemAt(int(i));
      if (c.sizes[i]) {
        EXPECT_EQ(item.UncompressedSize, c.sizes[i]) << i;
      }
      EXPECT_EQ(item.ExternalAttributes, c.attributes[i]) << i;
      EXPECT_TRUE(item.ExtraFields().empty());
    }
    EXPECT_EQ(o.dir->CentralDirOffset, int64_t(bytes.size()));
  }
}

TEST(ZipDirectoryRead, NothingToRebuildIsInvalid) {
  for (const std::string& bytes : {std::string(), std::string(5000, 'z'), std::string("PK\x03\x04", 4)}) {
    Opened o = open(bytes);
    try {
      o.dir->ReadCentralDir();
      ADD_FAILURE() << "no exception for " << bytes.size() << " bytes";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 35);
    }
  }
}

TEST(ZipDirectoryRead, RebuildOfManyStreamedHeadersWithoutDescriptorsEnds) {
  // Every header announces a data descriptor and none follows: each search for one used to
  // run to the end of the file.
  Builder b;
  for (int i = 0; i < 20000; ++i) {
    Entry e = file("s", "");
    e.flags = 0x0008;
    b.add(e);
  }
  // Descriptor signatures that close nothing, all over the file.
  std::string bytes = b.bytes;
  for (int i = 0; i < 2000; ++i) put32(bytes, kDataDescriptorSignature);
  Opened o = open(bytes);
  o.dir->ReadCentralDir();
  EXPECT_EQ(o.dir->CurrentDir.DirItemCount(), 20000);
  EXPECT_EQ(o.dir->CurrentDir.DirItemAt(19999).LocalHeaderOffset, 19999u * 31);
}

// Heap bytes in use, as the C allocator counts them; 0 under an allocator that does not say.
size_t HeapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

TEST(ZipDirectoryRead, EntriesCostTheirFixedFieldsAndTheirBytesAlsoInACopy) {
  // Names of every length around the short-string limit, extra fields and comments on some.
  Builder b;
  size_t textBytes = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    Entry e = file("folder" + std::to_string(i % 100) + "/file-" + std::to_string(i) + ".txt", "");
    if (i % 10 == 0) e.centralExtra = extraField(0x5455, "12345");
    if (i % 100 == 0) e.comment = "note " + std::to_string(i);
    textBytes += e.name.size() + e.centralExtra.size() + e.comment.size();
    b.add(e);
  }
  Opened o = open(b.finish());
  const size_t before = HeapInUse();
  o.dir->ReadCentralDir();
  const TZADirArray& dir = o.dir->CurrentDir;
  ASSERT_EQ(dir.DirItemCount(), n);
  EXPECT_EQ(dir.DirItemAt(12345).Name(), "folder45/file-12345.txt");
  EXPECT_EQ(dir.DirItemAt(19900).Comment(), "note 19900");
  EXPECT_TRUE(dir.DirItemAt(19990).Comment().empty());
  EXPECT_EQ(DataOf(dir.DirItemAt(19990).ExtraFields()[0]), (std::vector<uint8_t>{'1', '2', '3', '4', '5'}));
  EXPECT_TRUE(dir.DirItemAt(19991).ExtraFields().empty());

  // Per entry: the fixed fields, three lengths and the texts (kept even); the arena's last
  // chunk may stand partly unused.
  EXPECT_LE(sizeof(TDirItem), 88u);
  const size_t budget = n * (sizeof(TDirItem) + 6 + 1) + textBytes + (1 << 20);
  const size_t read = HeapInUse() - before;
  if (before == 0) GTEST_SKIP() << "the allocator does not count its bytes";
  EXPECT_LE(read, budget) << (read / n) << " bytes per entry";

  // The backup copy an update makes costs the same.
  TZADirArray backup;
  const size_t beforeCopy = HeapInUse();
  backup.AssignDirItems(dir);
  EXPECT_LE(HeapInUse() - beforeCopy, budget);
  EXPECT_EQ(backup.DirItemAt(12345).Name(), "folder45/file-12345.txt");
  EXPECT_EQ(backup.DirItemAt(19900).Comment(), "note 19900");
}
