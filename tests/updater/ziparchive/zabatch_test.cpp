// The batch over real archives written by Python's zipfile.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ziptestkit.h"
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zaextract.h"
#include "updater/ziparchive/zalock.h"

namespace fs = std::filesystem;
using namespace ziparchive;
using namespace ziptestkit;

namespace {

struct Failure {
  std::string name;
  int32_t code;
};

// An open archive with recording handlers; the failure answer is Ignore unless set.
struct Fixture {
  TZipArchiver zip;
  std::vector<Failure> failures;
  std::vector<TZAAction> answers;  // failure answers in turn, then Ignore
  std::vector<std::string> progress;

  Fixture(const fs::path& archive, const fs::path& base) {
    zip.FileName = archive.string();
    zip.OpenArchive();
    zip.BaseDir = base.string();
    zip.OnProcessFileFailure = [this](TZABaseArchiver*, const std::string& name, TZAProcessOperation, int32_t native,
                                      int32_t, const std::string&, TZAAction& action) {
      failures.push_back({name, native});
      if (failures.size() <= answers.size()) action = answers[failures.size() - 1];
    };
  }
  TZABatchResult Extract() { return zip.ExtractFiles("*.*", 0x28BF, ""); }
};

// Answers the default dialogs from a list, then as a closed box.
struct Scripted : Prompter {
  std::vector<TZAButton> answers;
  std::vector<std::string> texts;
  explicit Scripted(std::vector<TZAButton> a) : answers(std::move(a)) {}
  TZAButton Confirm(const std::string& text, const std::vector<TZAButton>&) override {
    texts.push_back(text);
    return texts.size() <= answers.size() ? answers[texts.size() - 1] : TZAButton::Closed;
  }
  bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
};

mode_t ModeOf(const fs::path& p) {
  struct stat st{};
  EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

time_t MtimeOf(const fs::path& p) {
  struct stat st{};
  EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
  return st.st_mtime;
}

ZEntry Dos(const std::string& name, const std::string& data, uint32_t attr = 0x20) {
  ZEntry e;
  e.name = name;
  e.data = data;
  e.attr = attr;
  return e;
}

}  // namespace

TEST(ExtractBatch, HostileNamesAreRefusedAndTheBatchGoesOn) {
  const std::vector<std::string> hostile = {"../x", "a/../../x", "/etc/x", "//s/h/x", "C:/x", "", "a/..", "..\\x"};
  for (bool createDirs : {true, false}) {
    const fs::path root = testenv::makeDir(createDirs ? "on" : "off");
    std::vector<ZEntry> entries;
    for (const auto& n : hostile) entries.push_back(Dos(n, "evil"));
    entries.push_back(Dos("good/ok.txt", "fine"));
    const fs::path zip = MakeZip(root / "h.zip", entries);
    const fs::path base = root / "deep" / "base";
    fs::create_directories(base);

    Fixture f(zip, base);
    f.zip.Options.CreateDirs = createDirs;
    const TZABatchResult r = f.Extract();
    ASSERT_EQ(f.failures.size(), hostile.size()) << "createDirs=" << createDirs;
    for (size_t i = 0; i < hostile.size(); ++i) EXPECT_EQ(f.failures[i].code, 19) << hostile[i];
    EXPECT_EQ(r.Failed, static_cast<int>(hostile.size()));
    EXPECT_EQ(r.Done, 1);
    EXPECT_FALSE(r.Succeeded());
    EXPECT_EQ(f.zip.FItemsDone, 1);
    using Tree = std::vector<std::string>;
    EXPECT_EQ(TreeOf(base), createDirs ? Tree({"good/", "good/ok.txt"}) : Tree({"ok.txt"}));
    EXPECT_EQ(TreeOf(root / "deep"),
              createDirs ? Tree({"base/", "base/good/", "base/good/ok.txt"}) : Tree({"base/", "base/ok.txt"}));
    EXPECT_FALSE(fs::exists(root / "x"));
  }
  EXPECT_FALSE(fs::exists("/etc/x"));
  EXPECT_FALSE(fs::exists("/x"));
}

TEST(ExtractBatch, AnAbsolutePathFromTheHandlerIsHonoured) {
  const fs::path root = testenv::makeDir("abs");
  const fs::path zip = MakeZip(root / "a.zip", {Dos("dir/a.txt", "moved")});
  Fixture f(zip, root / "base");
  std::string seen;
  f.zip.OnExtractFile = [&](TZABaseArchiver*, std::string& name, uint32_t&, const std::string&) {
    seen = name;
    name = (root / "elsewhere" / "b.txt").string();
  };
  EXPECT_TRUE(f.Extract().Succeeded());
  EXPECT_EQ(seen, "dir\\a.txt");
  EXPECT_EQ(testenv::readFile(root / "elsewhere" / "b.txt"), "moved");
  EXPECT_FALSE(fs::exists(root / "base" / "dir" / "a.txt"));
}

TEST(ExtractBatch, LinksAtTargetsAreReplacedNotFollowed) {
  const fs::path root = testenv::makeDir("links");
  const fs::path base = root / "base";
  const fs::path outside = root / "outside";
  fs::create_directories(base);
  fs::create_directories(outside);
  testenv::writeFile(outside / "victim", "keep");
  fs::create_symlink(outside / "nothing", base / "dangling.txt");
  fs::create_symlink(outside / "victim", base / "live.txt");
  // An entry stored as a link comes out as a plain file holding the link text.
  const fs::path zip = MakeZip(root / "l.zip", {Dos("dangling.txt", "one"), Dos("live.txt", "two"),
                                                UnixEntry("link", "/etc/passwd", 0120777)});
  Fixture f(zip, base);
  EXPECT_TRUE(f.Extract().Succeeded());
  for (const char* n : {"dangling.txt", "live.txt", "link"})
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(base / n))) << n;
  EXPECT_EQ(testenv::readFile(base / "dangling.txt"), "one");
  EXPECT_EQ(testenv::readFile(base / "live.txt"), "two");
  EXPECT_EQ(testenv::readFile(base / "link"), "/etc/passwd");
  EXPECT_EQ(ModeOf(base / "link") & 0111, 0u);
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "nothing")));
  EXPECT_EQ(testenv::readFile(outside / "victim"), "keep");
}

TEST(ExtractBatch, DamagedEntryKeepsTheOriginalAndRetryRunsAgain) {
  const fs::path root = testenv::makeDir("damaged");
  const fs::path base = root / "base";
  testenv::writeFile(base / "app.bin", "original");
  ZEntry bad = Dos("app.bin", "NEWCONTENT-MARKER");
  bad.method = 0;
  const fs::path zip = MakeZip(root / "d.zip", {bad, Dos("after.txt", "next")});
  Damage(zip, "NEWCONTENT-MARKER");

  {
    Fixture f(zip, base);
    f.answers = {fxaRetry, fxaIgnore};
    const TZABatchResult r = f.Extract();
    ASSERT_EQ(f.failures.size(), 2u);  // the first attempt and the retry
    EXPECT_EQ(f.failures[0].code, 8);
    EXPECT_EQ(f.failures[0].name, "app.bin");
    EXPECT_EQ(r.Failed, 1);
    EXPECT_EQ(r.Done, 1);
    EXPECT_FALSE(r.Aborted);
  }
  EXPECT_EQ(testenv::readFile(base / "app.bin"), "original");
  EXPECT_EQ(TreeOf(base), (std::vector<std::string>{"after.txt", "app.bin"}));

  // Abort stops the batch; with ExtractCorruptedFiles the bad data is kept, without a failure.
  fs::remove(base / "after.txt");
  {
    Fixture f(zip, base);
    f.answers = {fxaAbort};
    const TZABatchResult r = f.Extract();
    EXPECT_TRUE(r.Aborted);
    EXPECT_EQ(r.Done, 0);
    EXPECT_FALSE(fs::exists(base / "after.txt"));
  }
  {
    Fixture f(zip, base);
    f.zip.ExtractCorruptedFiles = true;
    EXPECT_TRUE(f.Extract().Succeeded());
    EXPECT_TRUE(f.failures.empty());
    EXPECT_EQ(testenv::readFile(base / "app.bin"), "NEWCONTENT-MARKES");
  }
}

TEST(ExtractBatch, OverwriteModesAndTimes) {
  // The disk file's time against the entry's: equal, older, newer, and an entry from 2050.
  const std::array<int, 6> t2020{2020, 6, 1, 12, 0, 0}, t2021{2021, 6, 1, 12, 0, 0}, t2050{2050, 6, 1, 12, 0, 0};
  struct Case {
    TZAOverwriteMode mode;
    std::array<int, 6> disk, entry;
    bool replaced;
  };
  const Case cases[] = {
      {omAlways, t2021, t2020, true},  {omNever, t2020, t2021, false},  {omIfNewer, t2020, t2020, false},
      {omIfNewer, t2020, t2021, true}, {omIfNewer, t2021, t2020, false}, {omIfOlder, t2020, t2020, false},
      {omIfOlder, t2021, t2020, true}, {omIfOlder, t2020, t2021, false}, {omIfNewer, t2021, t2050, true},
      {omIfOlder, t2050, t2021, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path root = testenv::makeDir("ow" + std::to_string(n++));
    ZEntry e = Dos("f.txt", "archive");
    e.time = c.entry;
    const fs::path zip = MakeZip(root / "o.zip", {e});
    const fs::path target = testenv::writeFile(root / "base" / "f.txt", "disk");
    ZEntry d;
    d.time = c.disk;
    const time_t diskTime = DosDateTimeToUnix(
        DosDateTime(((d.time[0] - 1980) << 9) | (d.time[1] << 5) | d.time[2], (d.time[3] << 11) | (d.time[4] << 5)));
    const struct timespec times[2] = {{diskTime, 0}, {diskTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), times, 0), 0);

    Fixture f(zip, root / "base");
    f.zip.Options.OverwriteMode = c.mode;
    const TZABatchResult r = f.Extract();
    EXPECT_EQ(testenv::readFile(target), c.replaced ? "archive" : "disk") << "case " << n - 1;
    EXPECT_EQ(r.Done, c.replaced ? 1 : 0) << "case " << n - 1;
    EXPECT_EQ(r.Skipped, c.replaced ? 0 : 1) << "case " << n - 1;
    EXPECT_TRUE(f.failures.empty());
  }
}

// A name met twice in a folder the batch made gets the overwrite rules as anywhere else, and
// a folder in the way is still refused.
TEST(ExtractBatch, ANameTwiceInANewFolderFollowsTheOverwriteRules) {
  const fs::path root = testenv::makeDir("twice");
  const fs::path zip = MakeZip(root / "t.zip", {Dos("new/x", "first"), Dos("new/y", "y"), Dos("new/x", "second")});
  struct Case {
    TZAOverwriteMode mode;
    std::string kept;
    int done, skipped;
  };
  for (const Case& c : {Case{omNever, "first", 2, 1}, Case{omAlways, "second", 3, 0}}) {
    const fs::path base = root / ("base" + std::to_string(static_cast<int>(c.mode)));
    Fixture f(zip, base);
    f.zip.Options.OverwriteMode = c.mode;
    const TZABatchResult r = f.Extract();
    EXPECT_EQ(testenv::readFile(base / "new" / "x"), c.kept);
    EXPECT_EQ(r.Done, c.done);
    EXPECT_EQ(r.Skipped, c.skipped);
    EXPECT_EQ(TreeOf(base), (std::vector<std::string>{"new/", "new/x", "new/y"}));
  }
  const fs::path folderZip = MakeZip(root / "f.zip", {Dos("made/a", "1"), Dos("made/sub/", "", 0x10), Dos("made/sub", "file")});
  Fixture f(folderZip, root / "folder");
  f.zip.Options.OverwriteMode = omAlways;
  EXPECT_FALSE(f.Extract().Succeeded());
  EXPECT_EQ(TreeOf(root / "folder"), (std::vector<std::string>{"made/", "made/a", "made/sub/"}));
}

TEST(ExtractBatch, OverwritePromptAnswers) {
  const fs::path root = testenv::makeDir("prompt");
  const fs::path base = root / "base";
  for (const char* n : {"a", "b", "c"}) testenv::writeFile(base / n, "disk");
  const fs::path zip = MakeZip(root / "p.zip", {Dos("a", "new"), Dos("b", "new"), Dos("c", "new")});

  // The handler may send the file elsewhere.
  {
    Fixture f(zip, base);
    f.zip.Options.OverwriteMode = omPrompt;
    std::vector<std::string> asked;
    f.zip.OnConfirmOverwrite = [&](TZABaseArchiver*, const std::string& source, std::string& dest, bool& confirm) {
      asked.push_back(source);
      if (source == "a") confirm = false;
      if (source == "b") dest = (base / "b.new").string();
    };
    const TZABatchResult r = f.Extract();
    EXPECT_EQ(asked, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(r.Skipped, 1);
    EXPECT_EQ(r.Done, 2);
    EXPECT_EQ(testenv::readFile(base / "a"), "disk");
    EXPECT_EQ(testenv::readFile(base / "b"), "disk");
    EXPECT_EQ(testenv::readFile(base / "b.new"), "new");
    EXPECT_EQ(testenv::readFile(base / "c"), "new");
  }
  // The default dialog: "No to all" on the first file skips the others without asking.
  for (const char* n : {"a", "b", "c"}) testenv::writeFile(base / n, "disk");
  Scripted prompter({TZAButton::NoToAll});
  Fixture f(zip, base);
  f.zip.SetPrompter(&prompter);
  f.zip.Options.OverwriteMode = omPrompt;
  const TZABatchResult r = f.Extract();
  ASSERT_EQ(prompter.texts.size(), 1u);
  EXPECT_EQ(prompter.texts[0], "Overwrite file \"" + (base / "a").string() + "\" with \"a\"");
  EXPECT_EQ(r.Skipped, 3);
  EXPECT_EQ(f.zip.Options.OverwriteMode, omNever);
  for (const char* n : {"a", "b", "c"}) EXPECT_EQ(testenv::readFile(base / n), "disk");
}

TEST(ExtractBatch, ReadOnlyTargets) {
  for (bool replace : {false, true}) {
    const fs::path root = testenv::makeDir(replace ? "replace" : "keep");
    const fs::path target = testenv::writeFile(root / "base" / "ro.txt", "disk");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    const fs::path zip = MakeZip(root / "r.zip", {Dos("ro.txt", "archive")});
    Fixture f(zip, root / "base");
    f.zip.Options.ReplaceReadOnly = replace;
    const TZABatchResult r = f.Extract();
    EXPECT_EQ(testenv::readFile(target), replace ? "archive" : "disk");
    EXPECT_EQ(r.Skipped, replace ? 0 : 1);
    EXPECT_EQ(f.zip.FItemsDone, 1);  // a kept read-only file still counts for progress
    if (replace) {
      EXPECT_EQ(ModeOf(target), 0444u);
    }  // the mode it replaced, as the entry has no mode
  }
}

TEST(ExtractBatch, ModesOfWrittenFiles) {
  const fs::path root = testenv::makeDir("modes");
  const fs::path base = root / "base";
  testenv::writeFile(base / "tool", "old");
  ASSERT_EQ(chmod((base / "tool").c_str(), 0755), 0);
  testenv::writeFile(base / "locked", "old");
  ASSERT_EQ(chmod((base / "locked").c_str(), 0755), 0);
  const mode_t old = umask(022);
  const fs::path zip = MakeZip(root / "m.zip", {
      UnixEntry("run.sh", "#!/bin/sh\n", 0100755), UnixEntry("suid", "x", 0104755), UnixEntry("secret", "x", 0100600),
      Dos("tool", "new"),          // a DOS entry over an executable keeps it executable
      Dos("locked", "new", 0x21),  // read-only clears the write bits
      Dos("fresh", "new"),         // nothing replaced: 0666 less the umask
  });
  Fixture f(zip, base);
  EXPECT_TRUE(f.Extract().Succeeded());
  umask(old);
  const std::map<std::string, mode_t> expected = {{"run.sh", 0755}, {"suid", 0755}, {"secret", 0600},
                                                  {"tool", 0755},   {"locked", 0555}, {"fresh", 0644}};
  for (const auto& [name, mode] : expected) EXPECT_EQ(ModeOf(base / name), mode) << name;
  // The entry's local time becomes the mtime.
  std::tm tm{};
  const time_t m = MtimeOf(base / "fresh");
  localtime_r(&m, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2024);
  EXPECT_EQ(tm.tm_hour, 7);
  EXPECT_EQ(tm.tm_sec, 10);
}

TEST(ExtractBatch, FolderEntriesWithAndWithoutCreateDirs) {
  for (bool createDirs : {true, false}) {
    const fs::path root = testenv::makeDir(createDirs ? "on" : "off");
    ZEntry attrOnly = Dos("flagged", "", 0x10);
    const fs::path zip = MakeZip(root / "f.zip", {Dos("empty/", "", 0x10), Dos("docs/", "", 0x10), attrOnly,
                                                  Dos("docs/sub/a.txt", "a"), Dos("b.txt", "b")});
    if (!createDirs) fs::create_directories(root / "base");  // never made without CreateDirs
    Fixture f(zip, root / "base");
    f.zip.Options.CreateDirs = createDirs;
    const TZABatchResult r = f.Extract();
    EXPECT_TRUE(r.Succeeded());
    EXPECT_EQ(r.Done, 5);
    if (createDirs)
      EXPECT_EQ(TreeOf(root / "base"), (std::vector<std::string>{"b.txt", "docs/", "docs/sub/", "docs/sub/a.txt",
                                                                 "empty/", "flagged/"}));
    else
      EXPECT_EQ(TreeOf(root / "base"), (std::vector<std::string>{"a.txt", "b.txt"}));
  }
}

TEST(ExtractBatch, FolderThatCannotBeMadeIsCode20) {
  const fs::path root = testenv::makeDir("nodir");
  testenv::writeFile(root / "base" / "docs", "a file in the way");
  const fs::path zip = MakeZip(root / "n.zip", {Dos("docs/a.txt", "a"), Dos("b.txt", "b")});
  Fixture f(zip, root / "base");
  const TZABatchResult r = f.Extract();
  ASSERT_EQ(f.failures.size(), 1u);
  EXPECT_EQ(f.failures[0].code, 20);
  EXPECT_EQ(f.failures[0].name, "docs\\a.txt");
  EXPECT_EQ(r.Done, 1);
  EXPECT_EQ(testenv::readFile(root / "base" / "docs"), "a file in the way");
}

TEST(ExtractBatch, DecliningEveryEntryWritesNothing) {
  const fs::path root = testenv::makeDir("decline");
  const fs::path zip = MakeZip(root / "d.zip", {Dos("a", "1"), Dos("dir/b", "2")});
  Fixture f(zip, root / "base");
  std::vector<std::string> names;
  f.zip.OnConfirmProcessFile = [&](TZABaseArchiver*, const std::string& name, TZAProcessOperation op, bool& confirm) {
    EXPECT_EQ(op, poExtract);
    names.push_back(name);
    confirm = false;
  };
  const TZABatchResult r = f.Extract();
  EXPECT_EQ(names, (std::vector<std::string>{"a", "dir\\b"}));
  EXPECT_EQ(r.Skipped, 2);
  EXPECT_EQ(r.Done, 0);
  EXPECT_FALSE(r.Cancelled || r.Aborted);
  EXPECT_FALSE(fs::exists(root / "base"));
}

TEST(ExtractBatch, CancelDuringTheLastEntryDeletesItsFile) {
  const fs::path root = testenv::makeDir("cancel");
  const std::string big(3 << 20, 'z');
  const fs::path zip = MakeZip(root / "c.zip", {Dos("first.txt", "1"), Dos("sub/last.bin", big)});
  Fixture f(zip, root / "base");
  std::vector<std::string> overall;
  f.zip.OnFileProgress = [&](TZABaseArchiver*, const std::string& name, double, TZAProcessOperation,
                             TZAProgressPhase phase, bool& cancel) {
    EXPECT_TRUE(ZALockHeldByCurrentThread());
    f.progress.push_back(name + (phase == ppStart ? ":start" : phase == ppEnd ? ":end" : ":run"));
    if (name == "sub\\last.bin" && phase == ppProcess) cancel = true;
  };
  f.zip.OnOverallProgress = [&](TZABaseArchiver*, double p, TZAProcessOperation, TZAProgressPhase phase, bool&) {
    if (phase != ppProcess) overall.push_back(std::to_string(static_cast<int>(p)));
  };
  const TZABatchResult r = f.Extract();
  EXPECT_TRUE(r.Cancelled);
  EXPECT_EQ(r.Done, 1);
  EXPECT_EQ(f.progress.front(), "first.txt:start");
  EXPECT_EQ(f.progress.back(), "sub\\last.bin:end");
  EXPECT_EQ(overall, (std::vector<std::string>{"0", "100"}));
  EXPECT_EQ(TreeOf(root / "base"), (std::vector<std::string>{"first.txt", "sub/"}));
}

TEST(ExtractBatch, CancelAtTheStartOfTheBatchReportsNoEnd) {
  const fs::path root = testenv::makeDir("cancel-start");
  const fs::path zip = MakeZip(root / "c.zip", {Dos("a.txt", "1"), Dos("b.txt", "2")});
  for (TZAProcessOperation op : {poExtract, poTest}) {
    SCOPED_TRACE(op);
    Fixture f(zip, root / "base");
    std::vector<TZAProgressPhase> overall;
    int fileEvents = 0;
    f.zip.OnOverallProgress = [&](TZABaseArchiver*, double, TZAProcessOperation, TZAProgressPhase phase,
                                  bool& cancel) {
      overall.push_back(phase);
      cancel = phase == ppStart;
    };
    f.zip.OnFileProgress = [&](TZABaseArchiver*, const std::string&, double, TZAProcessOperation, TZAProgressPhase,
                               bool&) { ++fileEvents; };
    f.zip.CollectItems("*.*", 0x28BF, "");
    const TZABatchResult r = f.zip.ProcessFiles(op);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(r.Done, 0);
    EXPECT_EQ(overall, (std::vector<TZAProgressPhase>{ppStart}));
    EXPECT_EQ(fileEvents, 0);
    EXPECT_FALSE(fs::exists(root / "base"));
  }
}

TEST(ExtractBatch, TestModeChecksEverythingAndWritesNothing) {
  const fs::path root = testenv::makeDir("test");
  ZEntry bad = Dos("bad.txt", "BROKEN-STORED-DATA");
  bad.method = 0;
  const fs::path zip = MakeZip(root / "t.zip", {Dos("good.txt", std::string(100000, 'g')), bad, Dos("dir/", "", 0x10)});
  Damage(zip, "BROKEN-STORED-DATA");
  const fs::path tmp = testenv::makeDir("scratch");
  Fixture f(zip, root / "base");
  f.zip.TempDir = tmp.string();
  f.zip.CollectItems("*.*", 0x28BF, "");
  const TZABatchResult r = f.zip.ProcessFiles(poTest);
  ASSERT_EQ(f.failures.size(), 1u);
  EXPECT_EQ(f.failures[0].name, "bad.txt");
  EXPECT_EQ(f.failures[0].code, 8);
  EXPECT_EQ(r.Done, 2);
  EXPECT_EQ(r.Failed, 1);
  EXPECT_FALSE(fs::exists(root / "base"));
  EXPECT_TRUE(TreeOf(tmp).empty());
}

TEST(ExtractBatch, HeadlessFailureAnswerStopsInsteadOfRetrying) {
  const fs::path root = testenv::makeDir("headless");
  ZEntry bad = Dos("bad.txt", "BROKEN-STORED-DATA");
  bad.method = 0;
  const fs::path zip = MakeZip(root / "h.zip", {bad, Dos("next.txt", "n")});
  Damage(zip, "BROKEN-STORED-DATA");
  TZipArchiver zip2;
  zip2.FileName = zip.string();
  zip2.OpenArchive();
  zip2.BaseDir = (root / "base").string();
  const TZABatchResult r = zip2.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_TRUE(r.Aborted);
  EXPECT_EQ(r.Failed, 1);
  EXPECT_FALSE(fs::exists(root / "base" / "next.txt"));
  EXPECT_FALSE(fs::exists(root / "base" / "bad.txt"));
}

TEST(ExtractBatch, ClosedArchiveAndBadIndex) {
  TZipArchiver zip;
  try {
    zip.ExtractFiles("*.*", 0x28BF, "");
    FAIL() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 13);
  }
  const fs::path root = testenv::makeDir("index");
  Fixture f(MakeZip(root / "i.zip", {Dos("a", "1")}), root);
  TZAMemoryStream out;
  for (int index : {-1, 1}) {
    try {
      f.zip.ExtractItemToStream(index, out);
      FAIL() << "no exception for " << index;
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 16);
    }
  }
  f.zip.ExtractItemToStream(0, out);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), out.Size()), "1");
}

// Folders made for earlier entries are not made again, in whatever order the entries take them,
// unless one has gone meanwhile.
TEST(ExtractBatch, AFolderRemovedDuringTheBatchIsMadeAgain) {
  const fs::path root = testenv::makeDir("vanish");
  const fs::path zip = MakeZip(root / "v.zip", {Dos("sub/a", "1"), Dos("sub/b", "2")});
  Fixture f(zip, root / "base");
  f.zip.OnConfirmProcessFile = [&](TZABaseArchiver*, const std::string& name, TZAProcessOperation, bool&) {
    if (name == "sub\\b") fs::remove_all(root / "base" / "sub");
  };
  EXPECT_TRUE(f.Extract().Succeeded());
  EXPECT_EQ(TreeOf(root / "base"), (std::vector<std::string>{"sub/", "sub/b"}));

  const fs::path turns = MakeZip(root / "t.zip", {Dos("x/1", "1"), Dos("y/1", "2"), Dos("x/2", "3"), Dos("y/2", "4"),
                                                  Dos("x/3", "5")});
  Fixture g(turns, root / "turns");
  g.zip.OnConfirmProcessFile = [&](TZABaseArchiver*, const std::string& name, TZAProcessOperation, bool&) {
    if (name == "x\\3") fs::remove_all(root / "turns" / "x");
  };
  EXPECT_TRUE(g.Extract().Succeeded());
  EXPECT_EQ(TreeOf(root / "turns"), (std::vector<std::string>{"x/", "x/3", "y/", "y/1", "y/2"}));
}

// A folder swapped for a link during the batch: the files keep going to the folder that was
// made, never through the link.
TEST(ExtractBatch, AFolderSwappedForALinkDuringTheBatchIsNotFollowed) {
  const fs::path root = testenv::makeDir("swap");
  const fs::path outside = testenv::makeDir("swap-outside");
  const fs::path zip = MakeZip(root / "s.zip", {Dos("sub/a", "1"), Dos("sub/b", "2")});
  Fixture f(zip, root / "base");
  f.zip.OnConfirmProcessFile = [&](TZABaseArchiver*, const std::string& name, TZAProcessOperation, bool&) {
    if (name != "sub\\b") return;
    fs::rename(root / "base" / "sub", root / "moved");
    fs::create_symlink(outside, root / "base" / "sub");
  };
  EXPECT_TRUE(f.Extract().Succeeded());
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(TreeOf(root / "moved"), (std::vector<std::string>{"a", "b"}));
}

// Extracted files are flushed one by one only on a removable drive, and never with
// FlushBuffers off; a fixed disk, a second hard disk or a CD leaves the flush to the system.
TEST(ExtractBatch, FilesAreFlushedOnlyOnRemovableDrives) {
  platform::SystemRoots roots;
  roots.proc = (testenv::fixtures() / "drives-desktop/proc").string();
  roots.sys = (testenv::fixtures() / "drives-desktop/sys").string();
  SetDriveQueryRoots(roots);
  struct Case {
    std::string folder;
    bool flushed;
  };
  const std::vector<Case> cases = {{"/media/u/KEY/dir", true}, {"/media/u/KEY", true}, {"A:/dir", true},
                                   {"/media/u/HDD/dir", false}, {"/media/u/CDROM", false},
                                   {testenv::testRoot().string(), false}, {"/media/u/KEY/again", true}};
  TZipArchiver zip;
  for (bool flushBuffers : {true, false}) {
    zip.Options.FlushBuffers = flushBuffers;
    for (const Case& c : cases) EXPECT_EQ(zip.FlushesFilesIn(c.folder), flushBuffers && c.flushed) << c.folder;
  }
  SetDriveQueryRoots({});
}

// The drive is asked once per device and batch, whatever the order of the folders: a second
// folder of the same file system takes the first one's answer, another file system gets its own.
TEST(ExtractBatch, TheDriveIsAskedOncePerDevice) {
  const fs::path root = testenv::makeDir("devices");
  const fs::path mountinfo = root / "proc" / "self" / "mountinfo";
  fs::create_directories(mountinfo.parent_path());
  auto mountRootOn = [&](const char* device) {
    testenv::writeFile(mountinfo, std::string("22 1 ") + device + " / / rw - ext4 /dev/x rw\n"
                                  "26 22 0:21 / /proc rw - proc proc rw\n");
  };
  mountRootOn("8:17");  // the USB key of the fixture
  platform::SystemRoots roots;
  roots.proc = (root / "proc").string();
  roots.sys = (testenv::fixtures() / "drives-desktop/sys").string();
  SetDriveQueryRoots(roots);
  const fs::path a = testenv::makeDir("a"), b = testenv::makeDir("b");
  TZipArchiver zip;
  EXPECT_TRUE(zip.FlushesFilesIn(a.string()));
  mountRootOn("259:2");  // now a fixed disk
  EXPECT_TRUE(zip.FlushesFilesIn(b.string()));
  EXPECT_TRUE(zip.FlushesFilesIn(a.string()));
  EXPECT_FALSE(zip.FlushesFilesIn("/proc"));
  // A new batch asks again.
  Fixture f(MakeZip(root / "one.zip", {Dos("f", "1")}), root / "out");
  EXPECT_TRUE(f.Extract().Succeeded());
  EXPECT_FALSE(f.zip.FlushesFilesIn(b.string()));
  EXPECT_FALSE(f.zip.FlushesFilesIn(a.string()));
  SetDriveQueryRoots({});
}
