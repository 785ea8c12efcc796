// A commit killed (SIGKILL) at every step it takes, and its recovery killed too: once the
// engine has opened the archive again, it holds exactly its old entries or exactly its new
// ones, every peer reads it, and nothing is left beside it or in the temporary folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/updater/ziparchive/driverkit.h"
#include "tests/updater/ziparchive/zipwritekit.h"

using namespace zipwritekit;
using namespace driverkit;

namespace {

const Contents& oldEntries() {
  static const Contents c = {{"a.txt", "premier\n"},
                             {"big1.bin", noise(1500000, 1)},
                             {"m.txt", std::string(300000, 'm')},
                             {"big2.bin", noise(1500000, 2)},
                             {"z.txt", "dernier\n"}};
  return c;
}

// The operation args, killed at each of its steps in turn; newEntries is what it makes.
void KillAtEveryStep(const std::vector<std::string>& args, const Contents& newEntries) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  ASSERT_TRUE(peertools::Have("unzip")) << "run scripts/install-deps.sh";
  const fs::path root = testenv::testRoot();
  const fs::path original = root / "original.zip";
  {
    TZipArchiver zip;
    zip.FileName = original.string();
    zip.OpenArchiveMode(kCreateArchiveMode);
    zip.BeginUpdate();
    for (const auto& [name, data] : oldEntries()) AddText(zip, name, data);
    zip.EndUpdate();
    zip.CloseArchive();
  }

  // The whole run first: how many steps there are, and what it makes.
  const fs::path whole = root / "whole";
  fs::create_directories(whole / "temp");
  fs::copy_file(original, whole / "arc.zip");
  const DriverRun full = drive(0, whole / "arc.zip", whole / "temp", args);
  ASSERT_EQ(full.status, 0) << full.output;
  const long steps = std::stol(full.output.substr(full.output.find("steps ") + 6));
  ASSERT_GE(steps, 8) << full.output;
  ASSERT_EQ(ReadBack(whole / "arc.zip"), newEntries);

  int sawOld = 0, sawNew = 0, recoveriesKilled = 0;
  for (long k = 1; k <= steps; ++k) {
    SCOPED_TRACE("killed at step " + std::to_string(k) + " of " + std::to_string(steps));
    const fs::path folder = root / ("k" + std::to_string(k));
    fs::create_directories(folder / "temp");
    const fs::path path = folder / "arc.zip";
    fs::copy_file(original, path);
    const DriverRun killed = drive(k, path, folder / "temp", args);
    ASSERT_EQ(killed.status, 137) << "the step was not reached: " << killed.output;
    // A recovery killed in its turn, at one of its first steps (after the open's probe), is
    // taken up by the next open.
    if (JournalLeft(path)) {
      const DriverRun again = drive(2 + k % 3, path, folder / "temp", {"open"});
      recoveriesKilled += again.status == 137;
      ASSERT_TRUE(again.status == 137 || again.status == 0) << again.output;
    }

    const Contents read = ReadBack(path);
    EXPECT_FALSE(JournalLeft(path)) << "the next open left the journal";
    EXPECT_TRUE(fs::is_empty(folder / "temp")) << "a temporary file outlived the commit";
    const bool isOld = read == oldEntries(), isNew = read == newEntries;
    EXPECT_TRUE(isOld || isNew) << read.size() << " entries, neither the old nor the new ones";
    sawOld += isOld;
    sawNew += isNew;
    EXPECT_EQ(PythonReads(path), read);
    std::string out;
    EXPECT_EQ(peertools::Run("unzip -tq " + peertools::Quote(path.string()), out), 0) << out;
    fs::remove_all(folder);
  }
  ::testing::Test::RecordProperty("steps", std::to_string(steps));
  ::testing::Test::RecordProperty("old_after_kill", std::to_string(sawOld));
  ::testing::Test::RecordProperty("new_after_kill", std::to_string(sawNew));
  ::testing::Test::RecordProperty("recoveries_killed", std::to_string(recoveriesKilled));
  // The kills reached from before the archive was touched to after it was done.
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);
  EXPECT_GT(recoveriesKilled, 0);
}

}  // namespace

TEST(ZipCommitKill, AppendingAnEntry) {
  const fs::path source = testenv::writeFile(testenv::testRoot() / "new.bin", noise(700000, 3));
  Contents expected = oldEntries();
  expected["new.bin"] = testenv::readFile(source);
  KillAtEveryStep({"add", "new.bin", source.string()}, expected);
}

TEST(ZipCommitKill, DeletingTheFirstEntryMovesTheWholeTail) {
  Contents expected = oldEntries();
  expected.erase("a.txt");
  KillAtEveryStep({"delete", "a.txt"}, expected);
}

TEST(ZipCommitKill, RenamingAnEntryInTheMiddle) {
  Contents expected = oldEntries();
  expected["renamed/m.txt"] = expected["m.txt"];
  expected.erase("m.txt");
  KillAtEveryStep({"rename", "m.txt", "renamed/m.txt"}, expected);
}

TEST(ZipCommitKill, ReplacingAnEntryInTheMiddle) {
  const fs::path source = testenv::writeFile(testenv::testRoot() / "m.txt", noise(600000, 4));
  Contents expected = oldEntries();
  expected["m.txt"] = testenv::readFile(source);
  KillAtEveryStep({"add", "m.txt", source.string()}, expected);
}

// An archive made anew over one whose commit was killed: the old journal goes with it and is
// never put back into the new archive.
TEST(ZipCommitKill, ANewArchiveOverAKilledOneLeavesNoJournal) {
  if (!fs::exists(kDriver)) GTEST_SKIP() << "zacommit_driver is not built";
  const fs::path path = testenv::testRoot() / "arc.zip";
  const fs::path temp = testenv::makeDir("temp");
  MakeArchive(path, std::vector<std::pair<std::string, std::string>>(oldEntries().begin(), oldEntries().end()));
  const int64_t before = int64_t(fs::file_size(path));
  // The first step at which the archive is cut with its tail in the journal.
  for (long k = 1; k < 50 && !(JournalLeft(path) && int64_t(fs::file_size(path)) < before); ++k) {
    fs::remove(TZACommitJournal::NameFor(path.string()));
    MakeArchive(path, std::vector<std::pair<std::string, std::string>>(oldEntries().begin(), oldEntries().end()));
    ASSERT_EQ(drive(k, path, temp, {"delete", "a.txt"}).status, 137);
  }
  ASSERT_TRUE(JournalLeft(path));
  MakeArchive(path, {{"a.txt", "premier\n"}});
  EXPECT_FALSE(JournalLeft(path));
  EXPECT_EQ(ReadBack(path), (Contents{{"a.txt", "premier\n"}}));
  PeersAccept(path);
}
