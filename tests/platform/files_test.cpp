#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
