#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/testenv.h"

namespace {

std::string Sparse(const std::string& name, off_t size) {
  const auto path = testenv::writeFile(testenv::testRoot() / name, "");
  EXPECT_EQ(truncate(path.c_str(), size), 0);
  return path.string();
}

TEST(FileSizes, SixtyFourAndThirtyTwoBits) {
  const off_t fiveGiB = 5368709120;
  struct Case {
    off_t size;
    std::int32_t low;
  } cases[] = {{0, 0}, {2, 2}, {fiveGiB, 1073741824}, {0x80000001LL, INT32_MIN + 1}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = Sparse("f" + std::to_string(n++), c.size);
    EXPECT_EQ(platform::FileSize64(path), static_cast<std::uint64_t>(c.size));
    EXPECT_EQ(platform::FileSizeOf(path), c.low) << c.size;
  }
  EXPECT_EQ(platform::FileSize64((testenv::testRoot() / "missing").string()), 0u);
  EXPECT_EQ(platform::FileSizeOf((testenv::testRoot() / "missing").string()), 0);
  EXPECT_EQ(platform::FileSize64(""), 0u);
}

TEST(MakeDirs, CreatesMissingParentsWithTheModeAndKeepsWhatIsThere) {
  const std::string deep = (testenv::testRoot() / "a" / "b" / "c").string() + "/";
  ASSERT_TRUE(platform::MakeDirs(deep, 0700));
  struct stat st;
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(platform::MakeDirs(deep, 0700));  // already there
  const auto file = testenv::writeFile(testenv::testRoot() / "plain", "x");
  EXPECT_FALSE(platform::MakeDirs(file.string() + "/sub", 0700));  // ENOTDIR
  EXPECT_FALSE(platform::MakeDirs(file.string(), 0700));
  EXPECT_FALSE(platform::MakeDirs("", 0700));
}

// Whole transfers: across a pipe that hands out at most its buffer at a time, at offsets, and
// the two ways they end short (the end of the data, a full device).
TEST(WholeTransfers, MoveEverythingOrSayWhyNot) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ASSERT_GE(::fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096), 0);
  const std::string data(300000, 'q');
  const pid_t writer = ::fork();
  if (writer == 0) {
    ::close(pipeEnds[0]);
    ::_exit(platform::WriteAll(pipeEnds[1], data.data(), data.size()) ? 0 : 1);
  }
  ::close(pipeEnds[1]);
  std::string got(data.size(), '\0');
  EXPECT_TRUE(platform::ReadAll(pipeEnds[0], got.data(), got.size()));
  EXPECT_TRUE(got == data);
  char more;
  EXPECT_FALSE(platform::ReadAll(pipeEnds[0], &more, 1));
  EXPECT_EQ(errno, 0) << "the end of the data is no error";
  ::close(pipeEnds[0]);
  int status = -1;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  EXPECT_EQ(status, 0);

  const std::string path = (testenv::testRoot() / "at").string();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(platform::WriteAllAt(fd, "abcdef", 6, 10));
  char back[6] = {};
  EXPECT_TRUE(platform::ReadAllAt(fd, back, 6, 10));
  EXPECT_EQ(std::string(back, 6), "abcdef");
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0) << "the file position moved";
  EXPECT_FALSE(platform::ReadAllAt(fd, back, 6, 12));
  EXPECT_EQ(errno, 0);
  ::close(fd);

  const int full = ::open("/dev/full", O_WRONLY);
  if (full >= 0) {
    EXPECT_FALSE(platform::WriteAll(full, data.data(), 10));
    EXPECT_EQ(errno, ENOSPC);
    ::close(full);
  }
  EXPECT_TRUE(platform::SyncFolderOf(path));
  EXPECT_FALSE(platform::SyncFolderOf((testenv::testRoot() / "missing" / "f").string()));
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
