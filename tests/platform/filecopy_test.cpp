#include "platform/filecopy.h"

#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;
using testenv::readFile;
using testenv::writeFile;

namespace {

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

struct timespec MtimeOf(const fs::path& p) {
  struct stat st;
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return st.st_mtim;
}

}  // namespace

TEST(CopyFileReplacing, CopiesDataModeAndTimesOverAnOlderTarget) {
  auto dir = testenv::makeDir("copy");
  std::string data(17 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  auto src = writeFile(dir / "src.bin", data);
  auto dst = writeFile(dir / "out" / "dst.bin", "old");
  ::chmod(src.c_str(), 0640);
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);

  std::vector<std::uint64_t> seen;
  auto r = platform::CopyFileReplacing(src, dst, [&](std::uint64_t done, std::uint64_t total) {
    EXPECT_EQ(total, data.size());
    seen.push_back(done);
    return true;
  });
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(readFile(dst), data);
  struct stat st;
  ASSERT_EQ(::stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  ASSERT_GE(seen.size(), 3u);  // one call per chunk
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), data.size());
  EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"dst.bin"});
}

TEST(CopyFileReplacing, EmptyAndReadOnlySourcesAreCopied) {
  auto dir = testenv::makeDir("empty");
  auto src = writeFile(dir / "empty", "");
  ::chmod(src.c_str(), 0444);
  auto dst = writeFile(dir / "out" / "empty", "previous");
  ::chmod(dst.c_str(), 0444);
  auto r = platform::CopyFileReplacing(src, dst);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(readFile(dst), "");
  EXPECT_EQ(fs::status(dst).permissions(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(MtimeOf(dst).tv_sec, MtimeOf(src).tv_sec);
}

// Every failure keeps the old target and leaves no temp file behind.
TEST(CopyFileReplacing, FailuresKeepTheOldTarget) {
  auto dir = testenv::makeDir("fail");
  auto src = writeFile(dir / "src", std::string(200000, 'n'));
  auto dst = writeFile(dir / "out" / "dst", "old backup");
  auto plain = writeFile(dir / "plain", "x");
  ::mkfifo((dir / "fifo").c_str(), 0600);
  fs::create_directories(dir / "folder");

  struct Case {
    const char* what;
    fs::path source, target;
    int error;
  } cases[] = {
      {"missing source", dir / "nothing", dst, ENOENT},
      {"source is a folder", dir / "folder", dst, EISDIR},
      {"source is a FIFO (must not block)", dir / "fifo", dst, EINVAL},
      {"target folder is a file", src, plain / "dst", ENOTDIR},
      {"target folder missing", src, dir / "none" / "dst", ENOENT},
      {"target is a folder", src, dir / "folder", EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = platform::CopyFileReplacing(c.source, c.target);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
    EXPECT_FALSE(r.message.empty());
  }
  EXPECT_EQ(readFile(dst), "old backup");
  EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"dst"});
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

TEST(CopyFileReplacing, CancelAndWriteErrorMidwayKeepTheOldTarget) {
  auto dir = testenv::makeDir("midway");
  auto src = writeFile(dir / "src", std::string(20 * 1024 * 1024, 'z'));
  auto dst = writeFile(dir / "out" / "dst", "old backup");

  int calls = 0;
  auto r = platform::CopyFileReplacing(src, dst, [&](std::uint64_t, std::uint64_t) { return ++calls < 2; });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, ECANCELED);

  // A file-size limit makes the write fail after the first chunks (EFBIG).
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 2 * 1024 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto r2 = platform::CopyFileReplacing(src, dst);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(r2.ok);
  EXPECT_EQ(r2.error, EFBIG);

  EXPECT_EQ(readFile(dst), "old backup");
  EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"dst"});
}

TEST(RemoveCopyTemps, RemovesOnlyLeftTempFiles) {
  auto dir = testenv::makeDir("temps");
  writeFile(dir / ".quillomet-a1B2c3.part", "left");
  writeFile(dir / ".quillomet-a1B2c3.part.keep", "user");
  writeFile(dir / ".quillomet-short.part", "user");
  writeFile(dir / "quillomet-a1B2c3.part", "user");
  writeFile(dir / "sub" / ".quillomet-zzzzzz.part", "deeper");
  fs::create_directories(dir / ".quillomet-folder.part");
  EXPECT_EQ(platform::RemoveCopyTemps(dir), 1);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{".quillomet-a1B2c3.part.keep", ".quillomet-folder.part",
                                                  ".quillomet-short.part", "quillomet-a1B2c3.part", "sub"}));
  EXPECT_TRUE(fs::exists(dir / "sub" / ".quillomet-zzzzzz.part"));
  EXPECT_EQ(platform::RemoveCopyTemps(dir / "missing"), 0);
}

// Replacing swaps names: a link in the target's place is replaced, what it points to is not.
TEST(CopyFileReplacing, ReplacesALinkNotWhatItPointsTo) {
  auto dir = testenv::makeDir("link");
  auto src = writeFile(dir / "src", "new");
  auto pointee = writeFile(dir / "elsewhere", "keep me");
  fs::create_directories(dir / "out");
  fs::create_symlink(pointee, dir / "out" / "dst");
  auto r = platform::CopyFileReplacing(src, dir / "out" / "dst");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_FALSE(fs::is_symlink(dir / "out" / "dst"));
  EXPECT_EQ(readFile(dir / "out" / "dst"), "new");
  EXPECT_EQ(readFile(pointee), "keep me");
  EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"dst"});
}

// A source written to while it is copied: each change is seen after the data and the copy
// starts again; one that keeps changing fails without touching the target.
TEST(CopyFileInto, ASourceChangingDuringTheCopyIsCopiedAgainOrFails) {
  struct Case {
    const char* name;
    int changingTries;  // copies during which the source grows
    bool ok;
  } cases[] = {
      {"still", 0, true},
      {"once", 1, true},
      {"twice", platform::kCopyTries - 1, true},
      {"always", platform::kCopyTries, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto dir = testenv::makeDir(c.name);
    auto src = writeFile(dir / "growing.log", std::string(100000, 'a'));
    auto dst = writeFile(dir / "out" / "growing.log", "old");
    int appended = 0;
    auto r = platform::CopyFileReplacing(src, dst, [&](std::uint64_t, std::uint64_t) {
      if (appended < c.changingTries) {
        int fd = ::open(src.c_str(), O_WRONLY | O_APPEND);
        EXPECT_EQ(::write(fd, "more\n", 5), 5);
        ::close(fd);
        ++appended;
      }
      return true;
    });
    EXPECT_EQ(r.ok, c.ok) << r.message;
    EXPECT_EQ(r.changed, !c.ok);
    if (c.ok) {
      EXPECT_EQ(readFile(dst), readFile(src));  // the whole of the last state, not a cut
      EXPECT_EQ(MtimeOf(dst).tv_sec, MtimeOf(src).tv_sec);
      EXPECT_EQ(MtimeOf(dst).tv_nsec, MtimeOf(src).tv_nsec);
    } else {
      EXPECT_EQ(readFile(dst), "old");
    }
    EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"growing.log"});
  }
}

namespace {

// A file of `size` bytes holding `pieces` (offset, text) and holes elsewhere.
fs::path WriteSparse(const fs::path& p, off_t size, const std::vector<std::pair<off_t, std::string>>& pieces) {
  fs::create_directories(p.parent_path());
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  for (const auto& [at, text] : pieces)
    EXPECT_EQ(::pwrite(fd, text.data(), text.size(), at), static_cast<ssize_t>(text.size()));
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  return p;
}

std::uint64_t DiskUse(const fs::path& p) {
  struct stat st;
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

// Compares two files in blocks (a whole 1 GiB file is not held in memory).
bool SameContent(const fs::path& a, const fs::path& b) {
  const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC), fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
  bool same = fa >= 0 && fb >= 0;
  std::vector<char> x(1 << 20), y(1 << 20);
  while (same) {
    const ssize_t n = ::read(fa, x.data(), x.size()), m = ::read(fb, y.data(), y.size());
    same = n == m && n >= 0 && std::equal(x.begin(), x.begin() + std::max<ssize_t>(n, 0), y.begin());
    if (n <= 0) break;
  }
  if (fa >= 0) ::close(fa);
  if (fb >= 0) ::close(fb);
  return same;
}

}  // namespace

TEST(CopyFileReplacing, HolesStayHolesAndTheContentIsTheSame) {
  auto dir = testenv::makeDir("sparse");
  constexpr off_t kGiB = off_t{1} << 30;
  const std::string block(64 * 1024, 'd');
  struct Case {
    const char* what;
    off_t size;
    std::vector<std::pair<off_t, std::string>> pieces;
  } cases[] = {
      {"1 GiB, data at the start, middle and end", kGiB, {{0, "head"}, {kGiB / 2, block}, {kGiB - 5, "tail!"}}},
      {"1 GiB of hole only", kGiB, {}},
      {"hole first, ends in a hole", 64 << 20, {{40 << 20, block}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto src = WriteSparse(dir / "src", c.size, c.pieces);
    if (DiskUse(src) >= static_cast<std::uint64_t>(c.size)) GTEST_SKIP() << "no holes on this file system";
    auto dst = dir / "out" / "dst";
    fs::create_directories(dst.parent_path());
    std::uint64_t last = 0;
    auto r = platform::CopyFileReplacing(src, dst, [&](std::uint64_t done, std::uint64_t total) {
      EXPECT_EQ(total, static_cast<std::uint64_t>(c.size));
      EXPECT_GE(done, last);
      last = done;
      return true;
    });
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(fs::file_size(dst), static_cast<std::uint64_t>(c.size));
    // Allocation rounds every piece up to blocks (and an extent or two): far below the size.
    EXPECT_LE(DiskUse(dst), DiskUse(src) + (1 << 20));
    EXPECT_TRUE(SameContent(src, dst));
  }
}

// Long data between holes reports its progress as it goes, and can be cut short there: the
// old target stays and no temp file is left.
TEST(CopyFileReplacing, SparseCopyReportsProgressInsideItsDataAndCanBeCancelled) {
  auto dir = testenv::makeDir("sparse-progress");
  constexpr off_t kMiB = 1 << 20;
  auto src = WriteSparse(dir / "src", 96 * kMiB, {{8 * kMiB, std::string(40 * kMiB, 'p')}});
  if (DiskUse(src) >= 96u * kMiB) GTEST_SKIP() << "no holes on this file system";
  auto dst = testenv::writeFile(dir / "out" / "dst", "old backup");

  std::vector<std::uint64_t> seen;
  auto r = platform::CopyFileReplacing(src, dst, [&](std::uint64_t done, std::uint64_t) {
    seen.push_back(done);
    return true;
  });
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_GE(std::count_if(seen.begin(), seen.end(), [](std::uint64_t d) { return d < 48 * kMiB; }), 2);
  EXPECT_EQ(seen.back(), 96u * kMiB);
  EXPECT_TRUE(SameContent(src, dst));

  testenv::writeFile(dst, "old backup");
  r = platform::CopyFileReplacing(src, dst, [](std::uint64_t done, std::uint64_t) { return done < 16 * kMiB; });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, ECANCELED);
  EXPECT_EQ(testenv::readFile(dst), "old backup");
  EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"dst"});
}
