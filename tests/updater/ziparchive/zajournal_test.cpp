// The commit journal beside an archive: put back only into the killed commit it was written
// for; stale journals (the archive replaced, journals planted, links, FIFOs, folders, garbage)
// are neither applied nor followed, never block a commit, and a commit where no journal can
// be made still works.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "tests/support/asnobody.h"
#include "tests/updater/ziparchive/driverkit.h"
#include "tests/updater/ziparchive/zipwritekit.h"

using namespace zipwritekit;
using namespace driverkit;

namespace {

const std::vector<std::pair<std::string, std::string>>& oldEntries() {
  static const std::vector<std::pair<std::string, std::string>> e = {
      {"a.txt", "premier\n"}, {"big.bin", noise(400000, 11)}, {"z.txt", "dernier\n"}};
  return e;
}

Contents contentsOf(const std::vector<std::pair<std::string, std::string>>& entries) {
  return Contents(entries.begin(), entries.end());
}

const std::vector<std::pair<std::string, std::string>> kOther = {{"autre.txt", "une autre archive\n"},
                                                                 {"x.bin", std::string(5000, 'x')}};

fs::path journalOf(const fs::path& archive) { return TZACommitJournal::NameFor(archive.string()); }

// The archive of oldEntries(), made once per test (entries made apart differ in their times).
fs::path original() {
  const fs::path path = testenv::testRoot() / "original.zip";
  if (!fs::exists(path)) MakeArchive(path, oldEntries());
  return path;
}

// A copy of original() whose commit (a delete of its first entry: the cut is at 0) was killed
// once the archive was cut: its old tail is in the sealed journal beside it.
fs::path killedAfterCut(const fs::path& folder) {
  fs::create_directories(folder / "temp");
  const fs::path path = folder / "k.zip";
  fs::copy_file(original(), path);
  const DriverRun r = drive("kill=cut", path, folder / "temp", {"delete", "a.txt"});
  EXPECT_EQ(r.status, 137) << r.output;
  EXPECT_TRUE(JournalLeft(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  return path;
}

// Opens the archive through the engine as a reader does; a cut archive may fail to open.
void openAndClose(const fs::path& path) {
  try {
    TZipArchiver zip;
    zip.FileName = path.string();
    zip.OpenArchiveMode(kOpenReadDenyNone);
    zip.CloseArchive();
  } catch (const std::exception&) {
  }
}

// Rewrites the journal's header fields with change (the header stays valid).
void patchJournal(const fs::path& archive, const std::function<void(TZAJournalHeader&)>& change) {
  std::string bytes = testenv::readFile(journalOf(archive));
  TZAJournalHeader h;
  ASSERT_TRUE(h.Decode(reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size())));
  change(h);
  h.Encode(reinterpret_cast<uint8_t*>(bytes.data()));
  const int fd = ::open(journalOf(archive).c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), size_t(TZAJournalHeader::kSize), 0), TZAJournalHeader::kSize);
  ::close(fd);
}

void writeInPlace(const fs::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
}

// A new file under the archive's name that got the old one's inode number (as ext4 hands it
// out again): the journal's device and inode are made the new file's.
void newFileReusingTheInode(const fs::path& archive, const std::string& bytes) {
  fs::remove(archive);
  testenv::writeFile(archive, bytes);
  struct stat st {};
  ASSERT_EQ(::stat(archive.c_str(), &st), 0);
  patchJournal(archive, [&](TZAJournalHeader& h) {
    ASSERT_TRUE(h.HasBirth) << "the file system tells no birth times";
    h.Device = uint64_t(st.st_dev);
    h.Inode = uint64_t(st.st_ino);
  });
}

// What stands under a name, without following links: its type and its bytes (a link: its
// target and the target's bytes).
std::string stateOf(const fs::path& p) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return "none";
  if (S_ISLNK(st.st_mode)) return "link " + fs::read_symlink(p).string() + " " + testenv::readFile(p);
  if (S_ISFIFO(st.st_mode)) return "fifo";
  if (S_ISDIR(st.st_mode)) return "folder " + std::to_string(std::distance(fs::directory_iterator(p), {}));
  if (st.st_size > (1 << 20)) return "file of " + std::to_string(st.st_size);
  return "file " + std::to_string(st.st_uid) + " " + std::to_string(st.st_mode) + " " + testenv::readFile(p);
}

}  // namespace

// Each case: a commit killed after the cut, then what the user or another user did. The next
// opens leave the archive as the user put it, and never write through the journal's name.
TEST(ZipJournal, AStaleJournalIsNeverAppliedNorFollowed) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  const fs::path root = testenv::testRoot();
  MakeArchive(root / "other.zip", kOther);
  const std::string other = testenv::readFile(root / "other.zip");
  const std::string text = "des notes, pas une archive\n";
  struct Case {
    const char* name;
    std::function<void(const fs::path& archive, const fs::path& journal)> act;
    const std::vector<std::pair<std::string, std::string>>* reads;  // what the archive holds then
  } cases[] = {
      {"another archive over the same file", [&](auto& a, auto&) { writeInPlace(a, other); }, &kOther},
      {"a text over the same file", [&](auto& a, auto&) { writeInPlace(a, text); }, nullptr},
      {"another archive in a new file that reuses the inode",
       [&](auto& a, auto&) { newFileReusingTheInode(a, other); }, &kOther},
      {"a text in a new file that reuses the inode", [&](auto& a, auto&) { newFileReusingTheInode(a, text); },
       nullptr},
      {"another archive moved over it",
       [&](auto& a, auto&) { fs::rename(testenv::writeFile(a.string() + ".new", other), a); }, &kOther},
      {"a journal planted by another user", [](auto&, auto& j) { ASSERT_EQ(::chown(j.c_str(), 65534, 65534), 0); },
       nullptr},
      {"a journal that others may write", [](auto&, auto& j) { fs::permissions(j, fs::perms(0666)); }, nullptr},
      {"a journal with a second link", [](auto& a, auto& j) { fs::create_hard_link(j, a.string() + ".copie"); },
       nullptr},
      {"a link to the journal",
       [](auto& a, auto& j) {
         fs::rename(j, a.string() + ".ailleurs");
         fs::create_symlink(a.string() + ".ailleurs", j);
       },
       nullptr},
      {"a FIFO",
       [](auto&, auto& j) {
         fs::remove(j);
         ASSERT_EQ(::mkfifo(j.c_str(), 0600), 0);
       },
       nullptr},
      {"a folder",
       [](auto&, auto& j) {
         fs::remove(j);
         fs::create_directory(j);
       },
       nullptr},
      {"4 GB of garbage",
       [](auto&, auto& j) {
         testenv::writeFile(j, noise(4096, 5));
         fs::resize_file(j, 4ull << 30);
       },
       nullptr},
      {"a tail length near INT64_MAX",
       [](auto& a, auto&) { patchJournal(a, [](TZAJournalHeader& h) { h.TailLength = INT64_MAX - 100; }); },
       nullptr},
      {"a cut beyond the archive",
       [](auto& a, auto&) { patchJournal(a, [](TZAJournalHeader& h) { h.Cut = INT64_MAX - 100; }); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = testenv::makeDir(std::string("c") + std::to_string(&c - cases));
    const fs::path archive = killedAfterCut(folder);
    const fs::path journal = journalOf(archive);
    c.act(archive, journal);
    if (::testing::Test::HasFatalFailure()) return;
    const std::string put = testenv::readFile(archive);
    const std::string journalWas = stateOf(journal);
    openAndClose(archive);
    openAndClose(archive);
    EXPECT_TRUE(testenv::readFile(archive) == put) << "the journal was applied";
    // The archive the user put there reads; a journal of it that was whole goes with it.
    if (c.reads != nullptr) {
      EXPECT_EQ(ReadBack(archive), contentsOf(*c.reads));
    } else {
      EXPECT_EQ(stateOf(journal), journalWas);
    }
    fs::remove_all(folder);
  }
}

// The same kill left alone: the next open puts the old archive back, byte for byte.
TEST(ZipJournal, TheKilledCommitsOwnJournalPutsTheOldArchiveBack) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  const fs::path archive = killedAfterCut(testenv::testRoot() / "k");
  openAndClose(archive);
  EXPECT_TRUE(testenv::readFile(archive) == testenv::readFile(original()));
  EXPECT_FALSE(JournalLeft(archive));
}

// A folder where the user may not write: the open changes nothing and says that the archive
// holds an unfinished change; where it can be written, the next open puts the old one back.
TEST(ZipJournal, AnArchiveInAReadOnlyFolderIsLeftAsItIsWithAnError) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const fs::path folder = testenv::testRoot() / "lecture";
  const fs::path archive = killedAfterCut(folder);
  for (const fs::path& p : {archive, journalOf(archive)}) ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
  fs::permissions(folder, fs::perms(0755));
  const std::string cut = testenv::readFile(archive), journal = testenv::readFile(journalOf(archive));
  const int status = testenv::RunAsNobody([&] {
    try {
      TZipArchiver zip;
      zip.FileName = archive.string();
      zip.OpenArchiveMode(kOpenReadDenyNone);
      return 1;  // opened as if nothing had happened
    } catch (const EZAException& e) {
      return e.NativeError == 48 && std::string(e.what()).find("unfinished change") != std::string::npos ? 0 : 2;
    }
  });
  if (status == testenv::kCannotBecomeNobody) GTEST_SKIP() << "cannot become nobody";
  EXPECT_EQ(status, 0) << "1: opened without a word, 2: another error";
  EXPECT_TRUE(testenv::readFile(archive) == cut);
  EXPECT_TRUE(testenv::readFile(journalOf(archive)) == journal);
  openAndClose(archive);
  EXPECT_TRUE(testenv::readFile(archive) == testenv::readFile(original()));
  EXPECT_FALSE(JournalLeft(archive));
}

// A stale journal held by no commit is replaced by the next commit, which then works as if
// it were not there; what is no file under the journal's name is left alone and the commit
// keeps its tail elsewhere.
TEST(ZipJournal, AStaleJournalNeverBlocksTheNextCommit) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  const fs::path root = testenv::testRoot();
  MakeArchive(root / "other.zip", kOther);
  int held = -1;  // a descriptor that holds a lock on the planted journal
  struct Case {
    const char* name;
    std::function<void(const fs::path& folder, fs::path& archive)> make;
    bool journalStays;  // no file: left as it is
  } cases[] = {
      {"another archive moved over a killed commit",
       [&](auto& folder, auto& archive) {
         archive = killedAfterCut(folder);
         fs::copy_file(root / "other.zip", folder / "other.zip");
         fs::rename(folder / "other.zip", archive);
       },
       false},
      {"an empty journal (killed before its header)",
       [&](auto& folder, auto& archive) {
         archive = folder / "k.zip";
         fs::copy_file(root / "other.zip", archive);
         testenv::writeFile(journalOf(archive), "");
       },
       false},
      {"a journal of another user, held under a lock as a live commit's is",
       [&](auto& folder, auto& archive) {
         archive = killedAfterCut(folder);
         ASSERT_EQ(::chown(journalOf(archive).c_str(), 65534, 65534), 0);
         fs::copy_file(root / "other.zip", archive, fs::copy_options::overwrite_existing);
         held = ::open(journalOf(archive).c_str(), O_RDWR | O_CLOEXEC);
         ASSERT_EQ(TZAArchiveLock::LockWhole(held, F_WRLCK), 1);
       },
       false},
      {"a FIFO under the journal's name",
       [&](auto& folder, auto& archive) {
         archive = folder / "k.zip";
         fs::copy_file(root / "other.zip", archive);
         ASSERT_EQ(::mkfifo(journalOf(archive).c_str(), 0600), 0);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = testenv::makeDir(std::string("b") + std::to_string(&c - cases));
    fs::path archive;
    c.make(folder, archive);
    if (::testing::Test::HasFatalFailure()) return;
    const std::string journalWas = stateOf(journalOf(archive));
    const fs::path temp = testenv::makeDir(folder / "tmp");
    // Both kinds of commit: an append, and one that moves the whole tail.
    Update(archive, [&](TZipArchiver& zip) {
      zip.TempDir = temp.string();
      AddText(zip, "nouveau.txt", "ajouté\n");
    });
    Update(archive, [&](TZipArchiver& zip) {
      zip.TempDir = temp.string();
      zip.DeleteDirEntry(zip.FindEntry("autre.txt"));
    });
    Contents expected = contentsOf(kOther);
    expected.erase("autre.txt");
    expected["nouveau.txt"] = "ajouté\n";
    EXPECT_EQ(ReadBack(archive), expected);
    PeersAccept(archive);
    EXPECT_EQ(stateOf(journalOf(archive)), c.journalStays ? journalWas : "none");
    EXPECT_TRUE(fs::is_empty(temp));
    if (held >= 0) ::close(held);
    held = -1;
    fs::remove_all(folder);
  }
}

// The command line case: an add after another archive was moved over a killed commit.
TEST(ZipJournal, ZatoolAddsToAnArchiveMovedOverAKilledCommit) {
  const std::string zatool = std::string(QUILLOMET_BINARY_DIR) + "/bin/zatool";
  if (!fs::exists(kDriver) || !fs::exists(zatool)) GTEST_SKIP() << "zacommit_driver or zatool is not built";
  const fs::path root = testenv::testRoot();
  const fs::path archive = killedAfterCut(root / "k");
  MakeArchive(root / "other.zip", kOther);
  fs::rename(root / "other.zip", archive);
  const fs::path added = testenv::writeFile(root / "nouveau.txt", "ajouté\n");
  std::string out;
  EXPECT_EQ(peertools::Run("cd " + peertools::Quote(root.string()) + " && " + peertools::Quote(zatool) +
                               " add " + peertools::Quote(archive.string()) + " nouveau.txt",
                           out),
            0)
      << out;
  Contents expected = contentsOf(kOther);
  expected["nouveau.txt"] = "ajouté\n";
  EXPECT_EQ(ReadBack(archive), expected);
  EXPECT_FALSE(JournalLeft(archive));
  (void)added;
}

// A writable archive in a folder where the user may not create files: the commit keeps the
// tail in the temporary folder, as without a journal, and works.
TEST(ZipJournal, AFolderWithoutCreateRightsStillTakesCommits) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const fs::path root = testenv::testRoot();
  const fs::path folder = testenv::makeDir("sans-droits");
  const fs::path archive = folder / "arc.zip";
  MakeArchive(archive, oldEntries());
  const fs::path temp = testenv::makeDir("tmp-nobody");
  for (const fs::path& p : {archive, temp}) ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
  fs::permissions(folder, fs::perms(0755));
  const int status = testenv::RunAsNobody([&] {
    try {
      Update(archive, [&](TZipArchiver& zip) {
        zip.TempDir = temp.string();
        AddText(zip, "nouveau.txt", "ajouté\n");
      });
      Update(archive, [&](TZipArchiver& zip) {
        zip.TempDir = temp.string();
        zip.DeleteDirEntry(zip.FindEntry("a.txt"));
      });
      return 0;
    } catch (const EZAException& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  });
  if (status == testenv::kCannotBecomeNobody) GTEST_SKIP() << "cannot become nobody";
  EXPECT_EQ(status, 0);
  Contents expected = contentsOf(oldEntries());
  expected.erase("a.txt");
  expected["nouveau.txt"] = "ajouté\n";
  EXPECT_TRUE(ReadBack(archive) == expected);
  PeersAccept(archive);
  EXPECT_FALSE(JournalLeft(archive));
  EXPECT_TRUE(fs::is_empty(temp));
  (void)root;
}

// Two writers on one archive, each a process held at a chosen step. An open that finds
// another writer opens for reading only (code 32); these writers both got past that check
// before either opened the archive. A commit from a directory read before another commit is
// refused and the other's entry stays; a commit that meets a running one is refused; an open
// beside a running commit does not replay its journal.
TEST(ZipJournal, TwoWritersNeverLoseAnEntry) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  const fs::path root = testenv::testRoot();
  const fs::path temp = testenv::makeDir("temp");
  const fs::path one = testenv::writeFile(root / "un.txt", "premier ajout\n");
  const fs::path two = testenv::writeFile(root / "deux.txt", "second ajout\n");
  const Contents old = contentsOf(oldEntries());

  {
    SCOPED_TRACE("both read the directory before either commits");
    const fs::path archive = root / "a.zip";
    MakeArchive(archive, oldEntries());
    HeldDriver second("probed", archive, temp, {"add", "deux.txt", two.string()});
    ASSERT_TRUE(second.WaitHeld()) << second.Output();
    HeldDriver first("opened", archive, temp, {"add", "un.txt", one.string()});
    ASSERT_TRUE(first.WaitHeld()) << first.Output();
    const DriverRun done = second.Release();
    EXPECT_EQ(done.status, 0) << done.output;
    const std::string afterSecond = testenv::readFile(archive);
    const DriverRun late = first.Release();
    EXPECT_EQ(late.status, 1) << late.output;
    EXPECT_EQ(late.Code(), 36) << late.output;
    EXPECT_NE(late.output.find("changed since it was opened"), std::string::npos) << late.output;
    EXPECT_TRUE(testenv::readFile(archive) == afterSecond);
    Contents expected = old;
    expected["deux.txt"] = "second ajout\n";
    EXPECT_TRUE(ReadBack(archive) == expected);
  }
  {
    SCOPED_TRACE("a commit meets a running one");
    const fs::path archive = root / "b.zip";
    MakeArchive(archive, oldEntries());
    HeldDriver second("probed", archive, temp, {"add", "deux.txt", two.string()});
    ASSERT_TRUE(second.WaitHeld()) << second.Output();
    HeldDriver first("locked", archive, temp, {"add", "un.txt", one.string()});
    ASSERT_TRUE(first.WaitHeld()) << first.Output();
    const DriverRun refused = second.Release();
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_EQ(refused.Code(), 36) << refused.output;
    EXPECT_NE(refused.output.find("another commit is writing it"), std::string::npos) << refused.output;
    const DriverRun done = first.Release();
    EXPECT_EQ(done.status, 0) << done.output;
    Contents expected = old;
    expected["un.txt"] = "premier ajout\n";
    EXPECT_TRUE(ReadBack(archive) == expected);
  }
  {
    SCOPED_TRACE("an open while a commit has cut the archive");
    const fs::path archive = root / "c.zip";
    MakeArchive(archive, oldEntries());
    HeldDriver first("cut", archive, temp, {"delete", "a.txt"});
    ASSERT_TRUE(first.WaitHeld()) << first.Output();
    ASSERT_TRUE(JournalLeft(archive));
    const std::string cut = testenv::readFile(archive);
    drive(0, archive, temp, {"open"});
    EXPECT_TRUE(testenv::readFile(archive) == cut) << "the running commit's journal was replayed";
    EXPECT_NE(drive(0, archive, temp, {"add", "deux.txt", two.string()}).status, 0);
    EXPECT_TRUE(testenv::readFile(archive) == cut);
    const DriverRun done = first.Release();
    EXPECT_EQ(done.status, 0) << done.output;
    Contents expected = old;
    expected.erase("a.txt");
    EXPECT_TRUE(ReadBack(archive) == expected);
    EXPECT_FALSE(JournalLeft(archive));
  }
}

// Appending a small file to a large archive reads and writes a few hundred KiB, whatever the
// archive's size: the journal's check reads samples of the head, not the head.
TEST(ZipJournal, AnAppendToALargeArchiveMovesLittle) {
  const fs::path archive = testenv::testRoot() / "grande.zip";
  {
    TZipArchiver zip;
    zip.FileName = archive.string();
    zip.SetCompressionMode(0);
    zip.OpenArchiveMode(kCreateArchiveMode);
    zip.BeginUpdate();
    for (int i = 0; i < 4; ++i) AddText(zip, "gros" + std::to_string(i) + ".bin", noise(24 << 20, uint32_t(i)));
    zip.EndUpdate();
    zip.CloseArchive();
  }
  auto io = [] {
    const std::string s = testenv::readFile("/proc/self/io");
    auto field = [&](const char* name) {
      const size_t at = s.find(name);
      return at == std::string::npos ? -1LL : std::atoll(s.c_str() + at + std::strlen(name));
    };
    return std::make_pair(field("rchar: "), field("wchar: "));
  };
  const auto before = io();
  Update(archive, [](TZipArchiver& zip) { AddText(zip, "petit.txt", "quelques octets\n"); });
  const auto after = io();
  if (before.first < 0) GTEST_SKIP() << "no /proc/self/io here";
  const long long moved = (after.first - before.first) + (after.second - before.second);
  EXPECT_LT(moved, 1 << 20) << "read " << after.first - before.first << ", written " << after.second - before.second;
  RecordProperty("bytes_moved", std::to_string(moved));
  EXPECT_EQ(ReadBack(archive).at("petit.txt"), "quelques octets\n");
}
