// `zatool extract` of the interop fixtures gives the tree that `unzip -o` gives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ziptestkit.h"

namespace fs = std::filesystem;
using namespace ziptestkit;

namespace {

fs::path Zatool() { return fs::path(QUILLOMET_BINARY_DIR) / "bin" / "zatool"; }

struct Facts {
  mode_t mode = 0;
  time_t mtime = 0;
};

Facts FactsOf(const fs::path& p) {
  struct stat st{};
  EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
  return {static_cast<mode_t>(st.st_mode & 07777), st.st_mtime};
}

}  // namespace

TEST(ExtractInterop, SameTreeAsUnzip) {
  if (!fs::exists(Zatool())) GTEST_SKIP() << "zatool not built: " << Zatool();
  if (Shell("command -v unzip >/dev/null") != 0) GTEST_SKIP() << "unzip missing (scripts/install-deps.sh installs it)";
  // Every single-file archive of the four tools (unzip reads no split set).
  std::vector<fs::path> archives;
  for (const char* name : {"infozip-plain", "infozip-zip64", "infozip-stdin", "python-utf8", "python-zip64",
                           "python-pipe", "7zz", "bsdtar"}) {
    archives.push_back(testenv::fixtures() / "zip" / (std::string(name) + ".zip"));
    ASSERT_TRUE(fs::exists(archives.back())) << archives.back();
  }

  setenv("TZ", "UTC", 1);
  tzset();
  for (const auto& archive : archives) {
    const std::string stem = archive.stem().string();
    const fs::path ours = testenv::makeDir("ours-" + stem);
    const fs::path theirs = testenv::makeDir("unzip-" + stem);
    ASSERT_EQ(Shell("'" + Zatool().string() + "' extract '" + archive.string() + "' '" + ours.string() + "' >/dev/null"), 0)
        << stem;
    ASSERT_EQ(Shell("unzip -q -o '" + archive.string() + "' -d '" + theirs.string() + "'"), 0) << stem;
    EXPECT_EQ(Shell("diff -r '" + ours.string() + "' '" + theirs.string() + "'"), 0) << stem;
    const auto tree = TreeOf(ours);
    EXPECT_EQ(tree, TreeOf(theirs)) << stem;
    for (const auto& rel : tree) {
      if (rel.back() == '/') continue;
      const Facts a = FactsOf(ours / rel), b = FactsOf(theirs / rel);
      EXPECT_LE(std::abs(static_cast<long>(a.mtime - b.mtime)), 1) << stem << ": " << rel;
      EXPECT_EQ(a.mode, b.mode) << stem << ": " << rel;
    }
  }
}
