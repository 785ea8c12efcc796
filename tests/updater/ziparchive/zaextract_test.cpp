#include "updater/ziparchive/zaextract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using namespace ziparchive;

namespace {

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

TEST(ExtractTarget, HostileNamesAreRefusedWithAndWithoutCreateDirs) {
  const fs::path base = "/base";
  for (const char* name : {"../x", "a/../../x", "/etc/x", "//s/h/x", "C:/x", "", "a/..", "..\\x",
                           "c:x", "\\\\s\\h\\x", "a/b/../../../x", "..", "a/."}) {
    for (bool createDirs : {true, false}) {
      const auto t = ResolveExtractTarget(base, name, false, createDirs, false);
      EXPECT_TRUE(t.Refused) << "'" << name << "' createDirs=" << createDirs;
    }
  }
  EXPECT_TRUE(ResolveExtractTarget(base, std::string("a\0/../x", 7), false, true, false).Refused);
}

TEST(ExtractTarget, OrdinaryNamesStayUnderTheBase) {
  struct Case {
    const char* name;
    bool createDirs;
    const char* file;
  };
  const Case cases[] = {
      {"a/b.txt", true, "/base/a/b.txt"},     {"a\\b.txt", true, "/base/a/b.txt"},
      {"a/b.txt", false, "/base/b.txt"},      {"ab:c", true, "/base/ab:c"},
      {"dir/xy:z.txt", false, "/base/xy:z.txt"}, {"./a//b", true, "/base/a/b"},
      {"..a/b..", true, "/base/..a/b.."},     {"...", false, "/base/..."},
  };
  for (const auto& c : cases) {
    const auto t = ResolveExtractTarget("/base", c.name, false, c.createDirs, false);
    ASSERT_FALSE(t.Refused) << c.name;
    EXPECT_EQ(t.File, fs::path(c.file)) << c.name;
    EXPECT_EQ(t.Folder, fs::path(c.file).parent_path()) << c.name;
  }
}

TEST(ExtractTarget, FolderEntries) {
  auto on = ResolveExtractTarget("/base", "docs\\sub\\", true, true, false);
  EXPECT_FALSE(on.Refused);
  EXPECT_EQ(on.Folder, fs::path("/base/docs/sub"));
  EXPECT_TRUE(on.File.empty());
  // Marked only by its attribute: the whole name is the folder.
  EXPECT_EQ(ResolveExtractTarget("/base", "docs", true, true, false).Folder, fs::path("/base/docs"));
  auto off = ResolveExtractTarget("/base", "docs\\", true, false, false);
  EXPECT_FALSE(off.Refused);
  EXPECT_EQ(off.Folder, fs::path("/base"));
  EXPECT_TRUE(off.File.empty());
  EXPECT_TRUE(ResolveExtractTarget("/base", "../docs/", true, true, false).Refused);
}

TEST(ExtractTarget, OnlyAnAbsolutePathSetByTheHandlerLeavesTheBase) {
  const auto set = ResolveExtractTarget("/base", "\\opt\\other\\x.bin", false, true, true);
  ASSERT_FALSE(set.Refused);
  EXPECT_EQ(set.File, fs::path("/opt/other/x.bin"));
  EXPECT_EQ(set.Folder, fs::path("/opt/other"));
  EXPECT_TRUE(ResolveExtractTarget("/base", "/opt/other/x.bin", false, true, false).Refused);
  EXPECT_TRUE(ResolveExtractTarget("/base", "..\\x.bin", false, true, true).Refused);
  EXPECT_EQ(ResolveExtractTarget("/base", "sub\\x.bin", false, true, true).File, fs::path("/base/sub/x.bin"));
}

TEST(DosTimes, RoundTripAndClamp) {
  // 2026-03-14 15:09:26
  const uint32_t stamp = DosDateTime(((2026 - 1980) << 9) | (3 << 5) | 14, (15 << 11) | (9 << 5) | 13);
  const time_t t = DosDateTimeToUnix(stamp);
  std::tm tm{};
  localtime_r(&t, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2026);
  EXPECT_EQ(tm.tm_mon, 2);
  EXPECT_EQ(tm.tm_mday, 14);
  EXPECT_EQ(tm.tm_hour, 15);
  EXPECT_EQ(tm.tm_min, 9);
  EXPECT_EQ(tm.tm_sec, 26);
  EXPECT_EQ(UnixToDosDateTime(t), stamp);
  EXPECT_EQ(UnixToDosDateTime(t + 1), stamp);  // odd seconds round down
  EXPECT_EQ(UnixToDosDateTime(0), DosDateTime((1 << 5) | 1, 0));
  EXPECT_EQ(UnixToDosDateTime(DosDateTimeToUnix(DosDateTime((2107 - 1980) << 9 | (12 << 5) | 31, 0)) + 86400 * 400),
            DosDateTime((127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29));
}

// Entry dates in a zone with summer time: each is the local time it says, a skipped hour is
// read in winter time, a repeated one as its first pass; out-of-range fields carry over as
// they always have (month 0 is January, day 0 the first, hour 24 the next day).
TEST(DosTimes, LocalDatesAcrossChangesOfOffset) {
  const char* saved = std::getenv("TZ");
  const std::string old = saved ? saved : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  auto dos = [](int y, int mo, int d, int h, int mi, int s) {
    return DosDateTime(static_cast<uint16_t>(((y - 1980) << 9) | (mo << 5) | d),
                       static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2)));
  };
  const struct {
    uint32_t stamp;
    time_t utc;
  } cases[] = {
      {dos(2024, 1, 15, 12, 0, 0), 1705316400},   // 11:00 UTC
      {dos(2024, 7, 15, 12, 0, 0), 1721037600},   // 10:00 UTC
      {dos(2024, 3, 31, 2, 30, 0), 1711848600},   // skipped: 01:30 UTC
      {dos(2024, 10, 27, 2, 30, 0), 1729989000},  // repeated: 00:30 UTC
      {dos(2024, 0, 0, 24, 0, 0), 1704150000},    // 2024-01-02 00:00, 23:00 UTC the day before
      {dos(2107, 12, 31, 23, 59, 58), 4354815598},
  };
  for (const auto& c : cases) EXPECT_EQ(DosDateTimeToUnix(c.stamp), c.utc) << std::hex << c.stamp;
  if (saved) setenv("TZ", old.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST(DosTimes, OverwriteRulesCompareUnsigned) {
  const uint32_t y2020 = DosDateTime((40 << 9) | (6 << 5) | 1, 0);
  const uint32_t y2021 = DosDateTime((41 << 9) | (6 << 5) | 1, 0);
  const uint32_t y2050 = DosDateTime((70 << 9) | (6 << 5) | 1, 0);  // top bit set
  struct Case {
    TZAOverwriteRule rule;
    uint32_t disk, entry;
    bool keep;
  };
  const Case cases[] = {
      {TZAOverwriteRule::Always, y2021, y2020, false}, {TZAOverwriteRule::Never, y2020, y2021, true},
      {TZAOverwriteRule::IfNewer, y2020, y2020, true}, {TZAOverwriteRule::IfNewer, y2020, y2021, false},
      {TZAOverwriteRule::IfNewer, y2021, y2020, true}, {TZAOverwriteRule::IfOlder, y2020, y2020, true},
      {TZAOverwriteRule::IfOlder, y2021, y2020, false}, {TZAOverwriteRule::IfOlder, y2020, y2021, true},
      {TZAOverwriteRule::IfNewer, y2020, y2050, false}, {TZAOverwriteRule::IfOlder, y2050, y2020, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(KeepExistingByTime(c.rule, c.disk, c.entry), c.keep)
        << static_cast<int>(c.rule) << " " << std::hex << c.disk << " " << c.entry;
}

TEST(ExtractModes, StoredModeReplacedModeAndReadOnly) {
  const uint16_t unixMade = (3 << 8) | 30, dosMade = 20;
  struct Case {
    uint16_t madeBy;
    uint32_t attrs;
    bool setAttributes;
    std::optional<mode_t> replaced;
    mode_t expected;
  };
  const Case cases[] = {
      {unixMade, 0100755u << 16, true, std::nullopt, 0755},
      {unixMade, 0106755u << 16, true, 0700, 0755},             // no set-id bits
      {unixMade, 0101777u << 16, true, std::nullopt, 0777},      // no sticky bit
      {unixMade, 0120777u << 16, true, std::nullopt, 0644},      // a link becomes a plain file
      {unixMade, (0100644u << 16) | 0x01, true, std::nullopt, 0444},
      {unixMade, 0x20, true, 0750, 0750},                        // no stored mode
      {dosMade, 0x20, true, 0755, 0755},                         // executable stays executable
      {dosMade, 0x20, true, std::nullopt, 0644},
      {dosMade, 0x21, true, 0755, 0555},
      {dosMade, 0x20, true, 04755, 0755},
      {unixMade, 0100700u << 16, false, std::nullopt, 0644},
      {dosMade, 0x21, false, 0750, 0750},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExtractedFileMode(c.madeBy, c.attrs, c.setAttributes, c.replaced, 022), c.expected)
        << std::oct << c.attrs << " replaced " << (c.replaced ? *c.replaced : 0);
  EXPECT_EQ(ExtractedFileMode(dosMade, 0x20, true, std::nullopt, 077), 0600u);
}

TEST(ExtractModes, UmaskIsReadWithoutChange) {
  const mode_t old = umask(027);
  EXPECT_EQ(CurrentUmask(), 027u);
  EXPECT_EQ(CurrentUmask(), 027u);
  umask(old);
}

TEST(SafeFileWriter, CommitReplacesALinkAndNeverFollowsIt) {
  const fs::path dir = testenv::makeDir("out");
  const fs::path outside = testenv::makeDir("outside");
  const fs::path victim = testenv::writeFile(outside / "victim", "keep me");
  fs::create_symlink(outside / "missing", dir / "dangling");
  fs::create_symlink(victim, dir / "live");

  for (const char* name : {"dangling", "live"}) {
    TZASafeFileWriter w;
    ASSERT_TRUE(w.Open(dir / name));
    ASSERT_EQ(w.Write("new data", 8), 8);
    ASSERT_TRUE(w.Commit(0640, 1000000000, true));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / name))) << name;
    EXPECT_EQ(testenv::readFile(dir / name), "new data");
    struct stat st{};
    ASSERT_EQ(stat((dir / name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 1000000000);
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "missing")));
  EXPECT_EQ(testenv::readFile(victim), "keep me");
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"dangling", "live"}));
}

TEST(SafeFileWriter, DiscardAndFailedCommitKeepTheOldFileAndLeaveNoTemp) {
  const fs::path dir = testenv::makeDir("out");
  testenv::writeFile(dir / "old.txt", "original");
  {
    TZASafeFileWriter w;
    ASSERT_TRUE(w.Open(dir / "old.txt"));
    EXPECT_EQ(w.TempPath().parent_path(), dir);
    w.Write("partial", 7);
    w.Discard();
  }
  {
    TZASafeFileWriter w;  // destroyed without commit
    ASSERT_TRUE(w.Open(dir / "old.txt"));
    w.Write("partial", 7);
  }
  EXPECT_EQ(testenv::readFile(dir / "old.txt"), "original");
  // A folder in the way: rename fails, nothing is left behind.
  testenv::writeFile(dir / "busy" / "inner", "x");
  TZASafeFileWriter w;
  ASSERT_TRUE(w.Open(dir / "busy"));
  w.Write("data", 4);
  EXPECT_FALSE(w.Commit(0644, 0, false));
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"old.txt", "busy"}));
  EXPECT_EQ(Listing(dir / "busy"), (std::set<std::string>{"inner"}));
}

TEST(SafeFileWriter, CommittedModeIsExactWhateverTheUmaskStrips) {
  const fs::path dir = testenv::makeDir("out");
  struct Case { mode_t mode; mode_t umask; };
  for (const Case c : {Case{0644, 022}, Case{0666, 022}, Case{0755, 077}, Case{0400, 022}, Case{0777, 0}}) {
    const mode_t old = umask(c.umask);
    TZASafeFileWriter w;
    ASSERT_TRUE(w.Open(dir / "f", c.mode, c.umask));
    w.Write("x", 1);
    ASSERT_TRUE(w.Commit(c.mode, 1000000000, false));
    umask(old);
    struct stat st{};
    ASSERT_EQ(stat((dir / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << std::oct << c.mode << " umask " << c.umask;
  }
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"f"}));
}

TEST(SafeFileWriter, OpenFailsUnderAFile) {
  const fs::path file = testenv::writeFile(testenv::makeDir("out") / "plain", "x");
  TZASafeFileWriter w;
  EXPECT_FALSE(w.Open(file / "child"));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(w.IsOpen());
}

TEST(ExistingTarget, LinksCountAsThemselves) {
  const fs::path dir = testenv::makeDir("out");
  const fs::path ro = testenv::writeFile(dir / "ro", "x");
  ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
  fs::create_symlink(ro, dir / "link");
  const auto file = InspectTarget(ro);
  EXPECT_TRUE(file.Exists);
  EXPECT_TRUE(file.ReadOnly);
  EXPECT_EQ(file.Mode, std::optional<mode_t>(0555));
  const auto link = InspectTarget(dir / "link");
  EXPECT_TRUE(link.Exists);
  EXPECT_FALSE(link.ReadOnly);
  EXPECT_FALSE(link.Mode.has_value());
  EXPECT_TRUE(InspectTarget(dir).IsFolder);
  EXPECT_FALSE(InspectTarget(dir / "none").Exists);
}
