#include "updater/ziparchive/zastreams.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/testenv.h"

using namespace ziparchive;

namespace {

// The same contract on every stream: writes, seeks, reads, sizes.
void exerciseStream(TZAStream& s) {
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Write("hello world", 11), 11);
  EXPECT_EQ(s.Position(), 11);
  EXPECT_EQ(s.Seek(-5, soEnd), 6);
  char buf[16] = {};
  EXPECT_EQ(s.Read(buf, 16), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(s.Read(buf, 1), 0);
  EXPECT_THROW(s.ReadBuffer(buf, 1), EZAStreamError);
  EXPECT_THROW(s.Seek(-1, soBeginning), EZAStreamError);
  s.SetPosition(0);
  EXPECT_EQ(s.Seek(2, soCurrent), 2);
  s.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "llo");
  // Writing past the end fills the gap with zeros.
  s.SetPosition(13);
  s.WriteBuffer("!", 1);
  EXPECT_EQ(s.Size(), 14);
  s.SetPosition(11);
  s.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), std::string("\0\0!", 3));
  s.SetSize(5);
  EXPECT_EQ(s.Size(), 5);
  EXPECT_LE(s.Position(), 5);
}

}  // namespace

TEST(ZAStreams, MemoryAndFileStreamsKeepTheSameContract) {
  TZAMemoryStream memory;
  exerciseStream(memory);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(memory.Memory()), 5), "hello");

  auto path = (testenv::testRoot() / "s.bin").string();
  TZAFileStream file(path, fmCreate);
  exerciseStream(file);
  EXPECT_EQ(testenv::readFile(path), "hello");
}

TEST(ZAStreams, WrappedDescriptorKeepsTheContractFromItsOffset) {
  auto path = (testenv::testRoot() / "w.bin").string();
  {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    TZAFileStream wrapped(fd, true, path);
    exerciseStream(wrapped);
  }
  EXPECT_EQ(testenv::readFile(path), "hello");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 3, SEEK_SET), 3);
  {
    TZAFileStream wrapped(fd, false);
    EXPECT_EQ(wrapped.Position(), 3);
    char buf[4] = {};
    EXPECT_EQ(wrapped.Read(buf, 4), 2);
    EXPECT_EQ(std::string(buf, 2), "lo");
  }
  // The descriptor is left where the stream stopped.
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 5);
  ::close(fd);
}

TEST(ZAStreams, ReadOnlyFileReadsAnyRangeInAnyOrder) {
  std::string data(200000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) ^ (i >> 9));
  const auto path = testenv::writeFile(testenv::testRoot() / "ro.bin", data).string();
  TZAFileStream file(path, fmOpenRead | fmShareDenyWrite);
  struct Case { int64_t at, count; };
  // Small and large reads, across block ends, backwards, and past the end.
  const Case cases[] = {{0, 30}, {30, 100}, {65500, 100}, {10, 70000}, {131000, 2000}, {5, 5},
                        {199990, 50}, {200000, 1}, {250000, 4}, {100000, 100000}, {0, 200001}};
  for (const Case& c : cases) {
    file.SetPosition(c.at);
    std::string got(static_cast<size_t>(c.count), '\0');
    const int64_t n = file.Read(got.data(), c.count);
    const std::string want = c.at < 200000 ? data.substr(static_cast<size_t>(c.at), static_cast<size_t>(c.count)) : "";
    EXPECT_EQ(n, static_cast<int64_t>(want.size())) << c.at << "+" << c.count;
    EXPECT_EQ(got.substr(0, static_cast<size_t>(std::max<int64_t>(n, 0))), want) << c.at << "+" << c.count;
    EXPECT_EQ(file.Position(), c.at + n);
  }
}

TEST(ZAStreams, FileModesAndOpenErrors) {
  auto path = testenv::writeFile(testenv::testRoot() / "r.bin", "abc").string();
  {
    TZAFileStream reader(path, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(reader.Write("x", 1), 0);
    EXPECT_NE(reader.LastError(), 0);
    EXPECT_THROW(reader.WriteBuffer("x", 1), EZAStreamError);
    EXPECT_EQ(reader.Size(), 3);
    // The descriptor is not inherited by programs the process starts.
    EXPECT_TRUE(fcntl(reader.Handle(), F_GETFD) & FD_CLOEXEC);
  }
  {
    TZAFileStream rw(path, fmOpenReadWrite);
    rw.Seek(0, soEnd);
    rw.WriteBuffer("d", 1);
  }
  EXPECT_EQ(testenv::readFile(path), "abcd");
  try {
    TZAFileStream missing((testenv::testRoot() / "r.bin" / "sub").string(), fmCreate);
    FAIL() << "opened below a file";
  } catch (const EZAStreamError& e) {
    EXPECT_EQ(e.Errno, ENOTDIR);
  }
  EXPECT_THROW(TZAFileStream(testenv::testRoot().string(), fmOpenRead), EZAStreamError);
}

TEST(ZAStreams, FullDiskIsAShortWriteNotSuccess) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  TZAFileStream full("/dev/full", fmOpenWrite);
  EXPECT_EQ(full.Write("abc", 3), 0);
  EXPECT_EQ(full.LastError(), ENOSPC);
  try {
    full.WriteBuffer("abc", 3);
    FAIL() << "a write to a full disk succeeded";
  } catch (const EZAStreamError& e) {
    EXPECT_EQ(e.Errno, ENOSPC);
  }
}

TEST(ZAStreams, SixtyFourBitPositionsAndCopy) {
  auto path = (testenv::testRoot() / "big.bin").string();
  TZAFileStream file(path, fmCreate);
  const int64_t far = int64_t(5) << 30;  // beyond 32 bits; sparse
  file.SetSize(far + 4);
  EXPECT_EQ(file.Size(), far + 4);
  EXPECT_EQ(file.Seek(far, soBeginning), far);
  file.WriteBuffer("tail", 4);
  file.SetPosition(far);
  TZAMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(file, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Memory()), 4), "tail");
  TZAMemoryStream whole;
  whole.CopyFrom(copy, 0);  // 0: all of the source from its start
  EXPECT_EQ(whole.Size(), 4);
  file.SetPosition(far + 2);
  EXPECT_THROW(copy.CopyFrom(file, 10), EZAStreamError);
}
