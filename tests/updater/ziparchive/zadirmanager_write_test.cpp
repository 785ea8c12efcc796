#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/peertools.h"
#include "tests/updater/ziparchive/zipbuilder.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zanames.h"

using namespace ziparchive;
using namespace zipbuilder;

namespace {

// Reads the archive at path, cuts it before its directory and writes the directory anew.
void rewriteDirectory(const std::string& path) {
  TZAFileStream stream(path, fmOpenReadWrite);
  TZADirManager dir(&stream, nullptr, false);
  dir.ReadCentralDir();
  stream.SetSize(dir.CentralDirOffset);
  dir.WriteCentralDir();
}

std::unique_ptr<TZADirManager> readBack(TZAStream& stream) {
  auto dir = std::make_unique<TZADirManager>(&stream, nullptr, false);
  dir->ReadCentralDir();
  return dir;
}

void expectPeerAccepts(const std::string& command, const std::vector<std::string>& mustShow) {
  std::string out;
  int status = peertools::Run(command, out);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  for (const std::string& s : mustShow) EXPECT_NE(out.find(s), std::string::npos) << command << " lacks " << s << "\n" << out;
}

}  // namespace

TEST(ZipDirectoryWrite, RewrittenDirectoryReadsBackHereAndInEveryPeer) {
  const std::string utf8Name = "Gr\xC3\xBC\xC3\x9F" "e/na\xC3\xAFve.txt";
  Builder b;
  Entry commented = fileEntry("notes.txt", "with a comment\n");
  commented.comment = "entry comment";
  commented.centralExtra = extraField(0x5455, std::string("\x01\x00\x00\x00\x00", 5));
  Entry folder = fileEntry("dir/", "");
  folder.attributes = 0x10;
  // Local headers carry bit 11 for a non-ASCII name, as the engine writes them (FlagsForName).
  Entry flagged = fileEntry(utf8Name, "utf-8 name\n");
  flagged.flags = FlagsForName(0, utf8Name);
  b.add(fileEntry("plain.txt", "hello\n")).add(folder).add(flagged).add(commented);
  EndOptions end;
  end.comment = "archive comment";
  const auto path = testenv::writeFile(testenv::testRoot() / "ours.zip", b.finish(end)).string();

  rewriteDirectory(path);

  TZAFileStream stream(path, fmOpenRead);
  auto dir = readBack(stream);
  ASSERT_EQ(dir->CurrentDir.DirItemCount(), 4);
  EXPECT_EQ(dir->ArchiveComment, "archive comment");
  const TDirItem& named = dir->CurrentDir.DirItemAt(2);
  EXPECT_EQ(named.Name(), utf8Name);
  EXPECT_TRUE(named.Flags & 0x0800) << "a non-ASCII name is marked UTF-8";
  EXPECT_FALSE(dir->CurrentDir.DirItemAt(0).Flags & 0x0800);
  const TDirItem& note = dir->CurrentDir.DirItemAt(3);
  EXPECT_EQ(note.Comment(), "entry comment");
  ASSERT_EQ(note.ExtraFields().size(), 1u);
  EXPECT_EQ(note.ExtraFields()[0].HeaderId, 0x5455);
  EXPECT_EQ(dir->CurrentDir.DirItemAt(1).ExternalAttributes, 0x10u);

  const std::string q = peertools::Quote(path);
  if (peertools::Have("unzip")) {
    expectPeerAccepts("LC_ALL=C.UTF-8 unzip -t " + q, {"No errors detected"});
    expectPeerAccepts("LC_ALL=C.UTF-8 zipinfo " + q, {"plain.txt", "dir/", "notes.txt"});
  } else {
    ADD_FAILURE() << "unzip is missing: run scripts/install-deps.sh";
  }
  if (peertools::Have("7zz")) {
    expectPeerAccepts("7zz t " + q, {"Everything is Ok", "Files: 3"});
  } else {
    ADD_FAILURE() << "7zz is missing: run scripts/install-deps.sh";
  }
  expectPeerAccepts("/usr/bin/python3 -c 'import sys, zipfile\n"
                    "z = zipfile.ZipFile(sys.argv[1])\n"
                    "assert z.testzip() is None\n"
                    "print(z.comment.decode())\n"
                    "for i in z.infolist(): print(i.filename, i.comment.decode())' " + q,
                    {"archive comment", "plain.txt", utf8Name, "notes.txt entry comment"});
}

TEST(ZipDirectoryWrite, SixtyFiveThousandFiveHundredThirtyFiveEntriesGetZip64Records) {
  Builder b;
  for (int i = 0; i < 65535; ++i) b.add(fileEntry("f" + std::to_string(i), ""));
  const auto path = testenv::writeFile(testenv::testRoot() / "many.zip", b.finish()).string();
  rewriteDirectory(path);

  TZAFileStream stream(path, fmOpenRead);
  auto dir = readBack(stream);
  EXPECT_EQ(dir->CurrentDir.DirItemCount(), 65535);
  EXPECT_TRUE(dir->IsZip64);
  TZAEndRecord end = dir->EndRecordFields();
  EXPECT_EQ(end.TotalEntries, 0xFFFF);
  EXPECT_EQ(end.EntriesOnVolume, 0xFFFF);
  EXPECT_EQ(dir->Zip64EndRecordFields().TotalEntries, 65535u);
  EXPECT_EQ(dir->Zip64LocatorFields().TotalVolumes, 1u);
  std::string out;
  EXPECT_EQ(peertools::Run("/usr/bin/python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' " +
                               peertools::Quote(path), out),
            0);
  EXPECT_EQ(out, "65535\n");
}

TEST(ZipDirectoryWrite, DirectoryEndingAtFourGibibytesGetsZip64Records) {
  // A sparse file: only the directory is really written.
  const auto path = (testenv::testRoot() / "edge.zip").string();
  TZAFileStream stream(path, fmCreate);
  TZADirManager dir(&stream, nullptr, true);
  dir.CurrentDir.SetDirItemCount(1);
  TDirItem& item = dir.CurrentDir.EditDirItem(0);
  item.SetName("x");
  item.NameLength = 1;
  const int64_t dirSize = int64_t(kCentralHeaderSize) + 1;
  stream.SetSize(int64_t(0xFFFFFFFF) - dirSize);
  dir.WriteCentralDir();
  EXPECT_TRUE(dir.IsZip64);
  EXPECT_EQ(stream.Size(), int64_t(0xFFFFFFFF) + 56 + 20 + 22);
  TZAEndRecord end = dir.EndRecordFields();
  EXPECT_EQ(end.DirOffset, uint32_t(0xFFFFFFFF - dirSize));
  EXPECT_EQ(end.TotalEntries, 1);
  EXPECT_EQ(dir.Zip64LocatorFields().Zip64EndOffset, 0xFFFFFFFFull);

  // One byte less up to the end of the directory needs no Zip64 records.
  stream.SetSize(int64_t(0xFFFFFFFF) - dirSize - 1);
  dir.WriteCentralDir();
  EXPECT_FALSE(dir.IsZip64);
  EXPECT_EQ(stream.Size(), int64_t(0xFFFFFFFF) - 1 + 22);
}

TEST(ZipDirectoryWrite, Zip64FieldIsBuiltFromTheSaturatedValues) {
  TZAMemoryStream stream;
  TZADirManager dir(&stream, nullptr, true);
  dir.CurrentDir.SetDirItemCount(1);
  TDirItem& item = dir.CurrentDir.EditDirItem(0);
  item.SetName("big.bin");
  item.CompressedSize = 0xFFFFFFFF;
  item.Zip64CompressedSize = 40;  // inside the file, as a read-back requires
  item.UncompressedSize = 7;
  item.Zip64UncompressedSize = 99;  // not saturated: not written
  TZAExtraField stale;
  stale.HeaderId = 1;
  stale.Data.assign(24, 0xEE);
  stale.DataSize = 24;
  TZAExtraField other;
  other.HeaderId = 0x7875;
  other.Data = {1, 2, 3};
  other.DataSize = 3;
  item.SetExtraFields({stale, other});
  dir.WriteCentralDir();

  const uint8_t* p = stream.Memory();
  EXPECT_EQ(GetU16(p + 30), 4 + 8 + 4 + 3) << "one fresh Zip64 field and the other field";
  const uint8_t* extra = p + kCentralHeaderSize + 7;
  EXPECT_EQ(GetU16(extra), 1);
  EXPECT_EQ(GetU16(extra + 2), 8);
  EXPECT_EQ(GetU64(extra + 4), 40u);
  EXPECT_EQ(GetU16(extra + 12), 0x7875);

  stream.SetPosition(0);
  TZAMemoryStream copy;
  copy.CopyFrom(stream, stream.Size());
  auto back = readBack(copy);
  EXPECT_EQ(EffectiveCompressedSize(back->CurrentDir.DirItemAt(0)), 40);
  EXPECT_EQ(EffectiveUncompressedSize(back->CurrentDir.DirItemAt(0)), 7);
}

TEST(ZipDirectoryWrite, OverlongNamesAndCommentsFailWithoutWritingAnything) {
  const struct {
    const char* what;
    size_t name, comment, archiveComment;
  } cases[] = {
      {"name of 65536 bytes", 65536, 0, 0},
      {"entry comment of 65536 bytes", 1, 65536, 0},
      {"archive comment of 65536 bytes", 1, 0, 65536},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TZAMemoryStream stream;
    stream.WriteBuffer("data", 4);
    TZADirManager dir(&stream, nullptr, true);
    dir.CurrentDir.SetDirItemCount(2);
    dir.CurrentDir.EditDirItem(0).SetName("first");
    dir.CurrentDir.EditDirItem(1).SetName(std::string(c.name, 'n'));
    dir.CurrentDir.EditDirItem(1).SetComment(std::string(c.comment, 'c'));
    dir.ArchiveComment = std::string(c.archiveComment, 'a');
    try {
      dir.WriteCentralDir();
      ADD_FAILURE() << "no exception";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 46);
    }
    EXPECT_EQ(stream.Size(), 4);
  }
}

// A commit's moved offsets go into the written directory while the entries stay shared with
// the backup (reads never copy a segment); they go into the entries at the end, one past
// 4 GiB as a Zip64 value, and an entry that left the directory takes its offset with it.
TEST(ZipDirectoryWrite, MovedOffsetsAreWrittenWithoutCopyingTheSharedEntries) {
  TZAMemoryStream stream;
  TZADirManager dir(&stream, nullptr, true);
  TZADirArray& current = dir.CurrentDir;
  const int n = 10000;  // several segments
  current.SetDirItemCount(n);
  for (int i = 0; i < n; ++i) {
    current.SetDirItemTexts(i, "e" + std::to_string(i), {}, {});
    current.EditDirItem(i).LocalHeaderOffset = uint32_t(i);
  }
  dir.BackupDir.AssignDirItems(current);
  TZAMovedOffsets moved;
  const int first = 100;
  moved.Reset(first, n - first);
  auto isMoved = [](int i) { return i >= first && (i % 3 != 0 || i == n - 1); };
  auto newOffset = [](int i) { return i == n - 1 ? int64_t(0x100000000) : int64_t(i) * 10; };
  for (int i = first; i < n; ++i)
    if (isMoved(i)) moved.Record(i, newOffset(i));
  moved.Record(first + 1, 5);  // the offset of an entry about to go
  current.DeleteDirItem(first + 1);
  moved.Erase(first + 1);
  dir.WriteCentralDir(nullptr, &moved);
  // Only the segment of the removed entry is the current directory's own.
  for (int k = 4096 - 1; k < n - 1; ++k) ASSERT_EQ(&current.DirItemAt(k), &dir.BackupDir.DirItemAt(k + 1)) << k;

  // What was written, and the entries once the offsets go in.
  auto expected = [&](int k) {  // entry k of the new directory: old entry k, or k + 1 past the removed one
    const int old = k > first ? k + 1 : k;
    return isMoved(old) ? newOffset(old) : int64_t(old);
  };
  // The offsets point past this stream, which holds the directory alone: read it record by record.
  const uint8_t* p = stream.Memory();
  int k = 0;
  for (; GetU32(p) == kCentralHeaderSignature; ++k) {
    int64_t offset = GetU32(p + 42);
    if (offset == 0xFFFFFFFF) {
      const uint8_t* extra = p + kCentralHeaderSize + GetU16(p + 28);
      ASSERT_EQ(GetU16(extra), kZip64ExtraId);
      offset = int64_t(GetU64(extra + 4));
    }
    ASSERT_EQ(offset, expected(k)) << k;
    p += kCentralHeaderSize + GetU16(p + 28) + GetU16(p + 30) + GetU16(p + 32);
  }
  EXPECT_EQ(k, n - 1);
  dir.BackupDir.SetDirItemCount(0);
  moved.StoreInto(current);
  for (int k = 0; k < n - 1; ++k) ASSERT_EQ(EffectiveLocalHeaderOffset(current.DirItemAt(k)), expected(k)) << k;
  EXPECT_EQ(current.DirItemAt(n - 2).LocalHeaderOffset, 0xFFFFFFFFu);
  EXPECT_TRUE(current.DirItemAt(n - 2).HasZip64);
}
