// The update interface and the entries it makes: disk facts, names, renames, changes,
// moved sources, foreign archives, and the archives that may not be updated.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/updater/ziparchive/zipbuilder.h"
#include "tests/updater/ziparchive/zipwritekit.h"
#include "updater/ziparchive/zaextract.h"

using namespace zipwritekit;

namespace {

// An open archive (created when missing) with BaseDir set, inside an update.
struct Updating {
  explicit Updating(const fs::path& path, const fs::path& base = {}) {
    zip.FileName = path.string();
    zip.BaseDir = base.string();
    zip.TempDir = testenv::makeDir("temp-" + path.filename().string()).string();
    zip.OpenArchive();
    zip.BeginUpdate();
  }
  TestArchiver zip;
};

const TDirItem& entryNamed(TZABaseArchiver& zip, const std::string& name) {
  const int i = zip.FindEntry(name);
  EXPECT_GE(i, 0) << name;
  return zip.FDirManager->CurrentDir.DirItemAt(std::max(i, 0));
}

}  // namespace

TEST(ZipUpdate, FolderEntryAndFileFactsFromTheDisk) {
  const fs::path base = testenv::makeDir("base");
  fs::create_directories(base / "docs" / "empty");
  testenv::writeFile(base / "docs" / "a.txt", "alpha\n");
  testenv::writeFile(base / "docs" / "ro.txt", "read only\n");
  ::chmod((base / "docs" / "ro.txt").c_str(), 0444);
  Updating u(testenv::testRoot() / "facts.zip", base);
  u.zip.AddFiles("docs");

  const TDirItem& folder = entryNamed(u.zip, "docs/empty/");
  EXPECT_EQ(folder.CompressionMethod, 0);
  EXPECT_EQ(folder.Crc32, 0u);
  EXPECT_EQ(folder.Flags, 2);
  EXPECT_EQ(folder.EntryCompressionMode, 0);
  EXPECT_EQ(folder.ExternalAttributes, 0x10u);
  EXPECT_TRUE(folder.Modified);
  EXPECT_EQ(folder.Operation, poAdd);
  const TDirItem& file = entryNamed(u.zip, "docs/a.txt");
  EXPECT_EQ(file.ExternalAttributes, 0x20u);
  EXPECT_EQ(file.CompressionMethod, 8);
  EXPECT_EQ(file.VersionMadeBy, 20);
  EXPECT_EQ(file.Pending().SourceFileName, (base / "docs" / "a.txt").string());
  EXPECT_EQ(entryNamed(u.zip, "docs/ro.txt").ExternalAttributes, 0x21u);
  struct stat st {};
  ASSERT_EQ(::stat((base / "docs" / "a.txt").c_str(), &st), 0);
  EXPECT_EQ(DosDateTime(file.LastModDate, file.LastModTime), UnixToDosDateTime(st.st_mtime));
  u.zip.EndUpdate();
  u.zip.CloseArchive();
  const Contents c = PythonReads(testenv::testRoot() / "facts.zip");
  EXPECT_EQ(c.at("docs/a.txt"), "alpha\n");
  EXPECT_EQ(c.count("docs/empty/"), 1u);
  EXPECT_EQ(c.count("docs/"), 1u);
}

TEST(ZipUpdate, TempFileNamesStartWithFc) {
  TZipArchiver zip;
  const fs::path folder = testenv::makeDir("t");
  for (const std::string& dir : {folder.string(), std::string()}) {
    zip.TempDir = dir;
    const std::string name = zip.TempFileName();
    EXPECT_EQ(fs::path(name).filename().string().rfind("FC", 0), 0u) << name;
    EXPECT_EQ(fs::path(name).parent_path(), dir.empty() ? fs::temp_directory_path() : folder);
    EXPECT_TRUE(fs::exists(name) && fs::file_size(name) == 0);
    fs::remove(name);
  }
}

TEST(ZipUpdate, AFolderAddsWhatLiesBelowItButNoLinkedFolderFifoOrTheArchiveItself) {
  const fs::path base = testenv::makeDir("tree");
  testenv::writeFile(base / "top.txt", "top\n");
  testenv::writeFile(base / "sub" / "deep.txt", "deep\n");
  ASSERT_EQ(::mkfifo((base / "sub" / "pipe").c_str(), 0600), 0);
  fs::create_directory_symlink(base, base / "sub" / "loop");
  fs::create_symlink(base / "top.txt", base / "link.txt");
  // The archive lies inside the tree it takes in.
  Updating u(base / "self.zip", base);
  u.zip.AddFiles(".");
  u.zip.EndUpdate();
  u.zip.CloseArchive();
  const Contents c = ReadBack(base / "self.zip");
  EXPECT_EQ(c, (Contents{{"link.txt", "top\n"}, {"sub/", ""}, {"sub/deep.txt", "deep\n"}, {"top.txt", "top\n"}}));
}

TEST(ZipUpdate, AddingAnExistingNameRefreshesItAndMissingPathsAreRefused) {
  const fs::path base = testenv::makeDir("files");
  testenv::writeFile(base / "a.txt", "one\n");
  const fs::path path = testenv::testRoot() / "refresh.zip";
  {
    Updating u(path, base);
    u.zip.AddFiles("a.txt");
    try {
      u.zip.AddFiles("missing.txt");
      ADD_FAILURE() << "a missing file was added";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 11);
    }
  }
  testenv::writeFile(base / "a.txt", "two, longer\n");
  {
    Updating u(path, base);
    u.zip.AddFiles("a.txt");
    EXPECT_EQ(u.zip.FDirManager->CurrentDir.DirItemCount(), 1);
    EXPECT_EQ(entryNamed(u.zip, "a.txt").Operation, poUpdate);
  }
  EXPECT_EQ(ReadBack(path), (Contents{{"a.txt", "two, longer\n"}}));
}

TEST(ZipUpdate, RefreshGoesThroughPrepareItemUpdateAndKeepsTheName) {
  const fs::path base = testenv::makeDir("disk");
  testenv::writeFile(base / "dir" / "a.txt", "old\n");
  const fs::path path = testenv::testRoot() / "r.zip";
  MakeArchive(path, {{"dir/a.txt", "stale\n"}, {"b.txt", "kept\n"}});
  Updating u(path, base);
  u.zip.Options.StorePath = spNoPath;  // would store "a.txt": a refresh must not rename
  const TZABatchResult r = u.zip.RefreshFiles("*.*");
  EXPECT_EQ(r.Done, 1);
  EXPECT_EQ(r.Skipped, 1);
  const TDirItem& item = entryNamed(u.zip, "dir/a.txt");
  EXPECT_TRUE(item.Modified);
  EXPECT_EQ(item.Operation, poUpdate);
  EXPECT_FALSE(entryNamed(u.zip, "b.txt").Modified) << "no disk file: left alone";
  u.zip.EndUpdate();
  u.zip.CloseArchive();
  EXPECT_EQ(ReadBack(path), (Contents{{"dir/a.txt", "old\n"}, {"b.txt", "kept\n"}}));
}

TEST(ZipUpdate, ChangesOutsideAnUpdateAreRefused) {
  const fs::path path = testenv::testRoot() / "n.zip";
  MakeArchive(path, {{"a.txt", "a\n"}});
  TZipArchiver zip;
  zip.FileName = path.string();
  EXPECT_THROW(zip.BeginUpdate(), EZAException);  // closed: code 13
  // Opened for reading only (as when another process writes it): never written.
  zip.OpenArchiveMode(kOpenReadDenyNone);
  try {
    zip.BeginUpdate();
    ADD_FAILURE() << "an update of a read-only archive";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 32);
  }
  zip.OpenArchive();
  const std::vector<std::pair<int, std::function<void()>>> calls = {
      {25, [&] { zip.AddFiles(path.string()); }},
      {25, [&] { AddText(zip, "b.txt", "b"); }},
      {25, [&] { zip.RenameFile("a.txt", "c.txt"); }},
      {25, [&] { zip.SetFileComment("a.txt", "c"); }},
      {22, [&] { zip.DeleteFiles("a.txt"); }},
  };
  for (const auto& [code, call] : calls) {
    try {
      call();
      ADD_FAILURE() << "code " << code << " expected";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, code);
    }
  }
}

TEST(ZipUpdate, RenameAttributesCommentAndDeleteReachEveryReader) {
  const fs::path path = testenv::testRoot() / "ops.zip";
  MakeArchive(path, {{"keep.txt", "keep\n"}, {"old/name.txt", "renamed data\n"}, {"gone.txt", "bye\n"},
                     {"notes.txt", "notes\n"}, {"last.txt", "last\n"}});
  {
    Updating u(path);
    u.zip.RenameFile("old/name.txt", "new/longer name \xC3\xA9.txt");
    u.zip.SetFileAttributes("keep.txt", 0x21);
    u.zip.SetFileComment("notes.txt", "a comment");
    EXPECT_EQ(u.zip.DeleteFiles("gone.txt").Done, 1);
    try {
      u.zip.RenameFile("nowhere.txt", "x");
      ADD_FAILURE();
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError, 11);
    }
  }
  const Contents expected = {{"keep.txt", "keep\n"},
                             {"new/longer name \xC3\xA9.txt", "renamed data\n"},
                             {"notes.txt", "notes\n"},
                             {"last.txt", "last\n"}};
  EXPECT_EQ(ReadBack(path), expected);
  EXPECT_EQ(PythonReads(path), expected);
  PeersAccept(path);
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.OpenArchiveMode(kOpenReadDenyNone);
  EXPECT_EQ(entryNamed(zip, "keep.txt").ExternalAttributes, 0x21u);
  EXPECT_EQ(entryNamed(zip, "notes.txt").Comment(), "a comment");
}

// Renames one after the other, as a folder is renamed: each finds the entry under its name
// of the moment, names swapped through a third one land right, and the archive holds them.
TEST(ZipUpdate, RenamesOneAfterAnotherFindEachEntryByItsNameOfTheMoment) {
  const fs::path path = testenv::testRoot() / "folder.zip";
  std::vector<std::pair<std::string, std::string>> entries = {{"a.txt", "A\n"}, {"b.txt", "B\n"}};
  for (int i = 0; i < 300; ++i) entries.push_back({"dir/f" + std::to_string(i), "data " + std::to_string(i) + "\n"});
  MakeArchive(path, entries);
  {
    Updating u(path);
    for (int i = 0; i < 300; ++i) {
      const std::string from = "dir/f" + std::to_string(i);
      u.zip.RenameFile(from, "moved/f" + std::to_string(i));
      EXPECT_LT(u.zip.FindEntry(from), 0) << from;
      EXPECT_EQ(u.zip.FindEntry("moved/f" + std::to_string(i)), i + 2);
    }
    u.zip.RenameFile("a.txt", "swap");
    u.zip.RenameFile("b.txt", "a.txt");
    u.zip.RenameFile("swap", "b.txt");
    EXPECT_EQ(u.zip.FindEntry("a.txt"), 1);
    EXPECT_EQ(u.zip.FindEntry("b.txt"), 0);
    EXPECT_LT(u.zip.FindEntry("swap"), 0);
  }
  Contents expected = {{"a.txt", "B\n"}, {"b.txt", "A\n"}};
  for (int i = 0; i < 300; ++i) expected["moved/f" + std::to_string(i)] = "data " + std::to_string(i) + "\n";
  EXPECT_EQ(ReadBack(path), expected);
  PeersAccept(path);
}

TEST(ZipUpdate, MovedSourcesGoOnlyOnceWrittenAndAStoppedDeletionKeepsTheArchive) {
  const fs::path base = testenv::makeDir("moving");
  testenv::writeFile(base / "a.txt", "a\n");
  testenv::writeFile(base / "b.txt", "b\n");
  testenv::writeFile(base / "c.txt", "c\n");
  const fs::path path = testenv::testRoot() / "moved.zip";
  {
    Updating u(path, base);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) u.zip.AddFiles(name, true);
    // b.txt turns into a FIFO before it is read: its move fails; a.txt becomes a folder
    // once written, so its deletion fails and the event stops the deletions.
    // Progress events name files with "\\" separators.
    auto eventName = [&](const char* name) {
      std::string s = (base / name).string();
      std::replace(s.begin(), s.end(), '/', '\\');
      return s;
    };
    u.zip.OnFileProgress = [&](TZABaseArchiver*, const std::string& file, double, TZAProcessOperation,
                               TZAProgressPhase phase, bool&) {
      if (phase == ppStart && file == eventName("b.txt")) {
        fs::remove(base / "b.txt");
        ::mkfifo((base / "b.txt").c_str(), 0600);
      }
      if (phase == ppEnd && file == eventName("a.txt")) {
        fs::remove(base / "a.txt");
        testenv::writeFile(base / "a.txt" / "inside", "x");
      }
    };
    std::vector<int> codes;
    u.zip.OnProcessFileFailure = [&codes](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t code,
                                          int32_t, const std::string&, TZAAction& action) {
      codes.push_back(code);
      action = code == 27 ? fxaAbort : fxaIgnore;
    };
    u.zip.EndUpdate();
    EXPECT_EQ(codes, (std::vector<int>{33, 27}));
  }
  EXPECT_EQ(ReadBack(path), (Contents{{"a.txt", "a\n"}, {"c.txt", "c\n"}}));
  EXPECT_TRUE(fs::exists(base / "b.txt")) << "a failed move keeps its source";
  EXPECT_TRUE(fs::exists(base / "c.txt")) << "the deletions stopped at the abort";
}

TEST(ZipUpdate, AnExistingSplitArchiveIsRefusedBeforeAnyWrite) {
  const fs::path dir = testenv::makeDir("split");
  for (const char* name : {"infozip-split.zip", "infozip-split.z01"}) fs::copy(testenv::fixtures() / "zip" / name, dir / name);
  const std::string zip0 = testenv::readFile(dir / "infozip-split.zip"), z01 = testenv::readFile(dir / "infozip-split.z01");
  TZipArchiver zip;
  zip.FileName = (dir / "infozip-split.zip").string();
  zip.OpenArchive();
  ASSERT_NE(zip.SpanningMode(), smNone);
  try {
    zip.BeginUpdate();
    ADD_FAILURE() << "a split archive was opened for an update";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 52);
  }
  zip.CloseArchive();
  EXPECT_TRUE(testenv::readFile(dir / "infozip-split.zip") == zip0 && testenv::readFile(dir / "infozip-split.z01") == z01);
}

TEST(ZipUpdate, ANewSplitArchiveThatFailsLeavesNoVolume) {
  const fs::path dir = testenv::makeDir("newsplit");
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += char((unsigned(i) * 7919u) >> 3);
  TZipArchiver zip;
  zip.FileName = (dir / "arc.zip").string();
  zip.TempDir = testenv::makeDir("temp").string();
  zip.SetSpanningMode(smSplitting);
  zip.SpanningOptions.VolumeSize = vsCustom;
  zip.SpanningOptions.SetCustomVolumeSize(65536);
  zip.SetCompressionMode(0);
  zip.OnRequestBlankVolume = [](TZABaseArchiver*, int32_t number, std::string&, bool& cancel) { cancel = number >= 3; };
  zip.OpenArchiveMode(kCreateArchiveMode);
  zip.BeginUpdate();
  AddText(zip, "big.bin", big);
  // The refused volume stops the commit: the caller learns it (code 45).
  try {
    zip.EndUpdate();
    ADD_FAILURE() << "the refused volume went unreported";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 45);
  }
  zip.CloseArchive();
  for (const auto& e : fs::directory_iterator(dir)) ADD_FAILURE() << "left behind: " << e.path() << " " << fs::file_size(e.path());
  EXPECT_TRUE(TempFilesIn(zip.TempDir).empty());
}

// Archives of other tools keep every byte of their entries through a delete, an append and a
// rename (their local extra fields and data descriptors differ from what we write).
TEST(ZipUpdate, ForeignArchivesSurviveChanges) {
  for (const char* fixture : {"infozip-plain.zip", "infozip-stdin.zip", "infozip-zip64.zip", "bsdtar.zip",
                              "python-pipe.zip", "python-zip64.zip", "7zz.zip"}) {
    SCOPED_TRACE(fixture);
    const fs::path path = testenv::makeDir(fixture) / fixture;
    fs::copy(testenv::fixtures() / "zip" / fixture, path);
    // Names are compared as each reader reads them: a UTF-8 name without its flag reads as
    // CP437 in Python, before and after alike. Only ASCII names are renamed or deleted here.
    Contents ours = ReadBack(path), theirs = PythonReads(path);
    ASSERT_EQ(ours.size(), theirs.size());
    {
      TZipArchiver zip;
      zip.FileName = path.string();
      zip.TempDir = testenv::makeDir(std::string(fixture) + "-t").string();
      zip.OpenArchive();
      const TZADirArray& dir = zip.FDirManager->CurrentDir;
      const std::string first(dir.DirItemAt(0).Name());
      ASSERT_TRUE(ours.count(first) && theirs.count(first)) << first;
      std::string last;
      for (int i = dir.DirItemCount() - 1; i > 0 && last.empty(); --i)
        if (theirs.count(std::string(dir.DirItemAt(i).Name()))) last = std::string(dir.DirItemAt(i).Name());
      zip.BeginUpdate();
      AddText(zip, "appended.txt", "appended\n");
      zip.EndUpdate();
      PeersAccept(path);
      zip.BeginUpdate();
      zip.DeleteDirEntry(0);
      if (!last.empty()) zip.RenameFile(last, "renamed/" + last);
      zip.EndUpdate();
      zip.CloseArchive();
      for (Contents* c : {&ours, &theirs}) {
        c->erase(first);
        if (!last.empty()) {
          (*c)["renamed/" + last] = (*c)[last];
          c->erase(last);
        }
        (*c)["appended.txt"] = "appended\n";
      }
    }
    PeersAccept(path);
    EXPECT_EQ(ReadBack(path), ours);
    EXPECT_EQ(PythonReads(path), theirs);
  }
}

TEST(ZipUpdate, AnArchiveInMemoryIsUpdatedInMemoryThenWrittenOut) {
  const fs::path path = testenv::testRoot() / "memory.zip";
  TZipArchiver zip;
  zip.FileName = path.string();
  zip.TempDir = testenv::makeDir("temp").string();
  zip.SetInMemory(true);
  zip.OpenArchive();
  zip.BeginUpdate();
  AddText(zip, "a.txt", "a\n");
  AddText(zip, "b.txt", "b\n");
  zip.EndUpdate();
  zip.BeginUpdate();
  zip.DeleteDirEntry(0);  // moves b.txt: its tail stays in memory
  zip.EndUpdate();
  EXPECT_TRUE(TempFilesIn(zip.TempDir).empty());
  EXPECT_FALSE(fs::exists(path));
  zip.SetInMemory(false);
  zip.CloseArchive();
  EXPECT_EQ(PythonReads(path), (Contents{{"b.txt", "b\n"}}));
  PeersAccept(path);
}

// Names, extra areas and comments of any length up to 65,535 bytes are read whole, pass the
// peers, and come through an append, a delete and a rename byte for byte. (unzip cuts names
// above 4 KB with a warning: 7-Zip and Python's zipfile check this archive.)
TEST(ZipUpdate, FieldsOfAnyLengthAreReadWholeAndKeptThroughChanges) {
  struct Sizes {
    size_t name, extra, comment;
  };
  // Small entries between the large ones fill the text store's chunks part way.
  const std::vector<Sizes> table = {{5, 0, 0},         {16385, 0, 0},     {9, 0, 3},       {10, 16381, 0},
                                    {11, 0, 16385},    {6000, 6000, 6000}, {12, 0, 0},      {65535, 65535, 65535},
                                    {13, 32768, 1},    {300, 0, 65535},   {14, 65535, 0},  {15, 4, 0}};
  auto fill = [](size_t n, char first) {
    std::string s(n, 'x');
    for (size_t i = 0; i < n; ++i) s[i] = char(first + i % 23);
    return s;
  };
  std::vector<zipbuilder::Entry> wanted;
  zipbuilder::Builder b;
  for (size_t i = 0; i < table.size(); ++i) {
    const Sizes& s = table[i];
    const std::string prefix = "e" + std::to_string(i) + "/";
    zipbuilder::Entry e = zipbuilder::fileEntry(prefix + fill(s.name - prefix.size(), 'a'), "data " + prefix);
    // The extra area as fields of at most 30,000 bytes, each with its own header.
    for (size_t left = s.extra; left >= 4;) {
      const size_t data = std::min<size_t>(left - 4, 30000);
      e.centralExtra += zipbuilder::extraField(uint16_t(0xCA00 + i), fill(data, 'A'));
      left -= 4 + data;
    }
    ASSERT_EQ(e.centralExtra.size(), s.extra) << i;
    e.comment = fill(s.comment, '0');
    b.add(e);
    wanted.push_back(e);
  }
  const fs::path path = testenv::makeDir("long-fields") / "long-fields.zip";
  testenv::writeFile(path, b.finish());
  size_t appended = 0;
  auto peersAccept = [&] {
    std::string out;
    EXPECT_EQ(peertools::Run("7zz t " + peertools::Quote(path.string()), out), 0) << out;
    EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
    EXPECT_EQ(PythonReads(path).size(), wanted.size() + appended);
  };
  peersAccept();

  auto check = [&](const std::string& step) {
    SCOPED_TRACE(step);
    TZipArchiver zip;
    zip.FileName = path.string();
    zip.OpenArchiveMode(kOpenReadDenyNone);
    const TZADirArray& dir = zip.FDirManager->CurrentDir;
    for (const zipbuilder::Entry& e : wanted) {
      const int i = zip.FindEntry(e.name);
      ASSERT_GE(i, 0) << e.name.substr(0, 20);
      const TDirItem& item = dir.DirItemAt(i);
      EXPECT_EQ(item.Name().size(), e.name.size());
      EXPECT_EQ(item.ExtraArea(), e.centralExtra) << e.name.substr(0, 20);
      EXPECT_EQ(item.Comment(), e.comment) << e.name.substr(0, 20);
      TZAMemoryStream m;
      zip.ExtractItemToStream(i, m);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())), e.data);
    }
  };
  check("as written");
  {
    Updating u(path);
    AddText(u.zip, "appended.txt", "appended\n");
    u.zip.EndUpdate();
  }
  appended = 1;
  peersAccept();
  check("appended");
  {
    Updating u(path);
    u.zip.DeleteDirEntry(u.zip.FindEntry(wanted[0].name));
    u.zip.RenameFile(wanted[2].name, "renamed.txt");
    u.zip.EndUpdate();
  }
  wanted.erase(wanted.begin());
  wanted[1].name = "renamed.txt";
  peersAccept();
  check("deleted and renamed");
}
