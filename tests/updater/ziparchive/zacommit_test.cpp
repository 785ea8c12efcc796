// The commit: what it writes, and what a cancel or a failing stream leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <vector>
#include <string>

#include "tests/updater/ziparchive/zipwritekit.h"

using namespace zipwritekit;

namespace {

std::string sample(size_t n, int seed) {
  std::string s;
  s.reserve(n);
  uint32_t x = uint32_t(seed) * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += "line " + std::to_string(x % 1000) + (x & 0x100 ? " alpha\n" : " beta\n");
  }
  s.resize(n);
  return s;
}

const std::vector<std::pair<std::string, std::string>> kBase = {
    {"a.txt", "first entry\n"}, {"b.txt", sample(300000, 1)}, {"c.txt", sample(20000, 2)}, {"d.txt", "last\n"}};

Contents baseContents() { return Contents(kBase.begin(), kBase.end()); }

struct CommitRun {
  TestArchiver& zip;
  FailingStream& archive;
};

// One case: the changes made inside the update, the event handlers, and what must hold after.
struct FaultCase {
  const char* name;
  std::function<void(CommitRun&)> change;
  bool identical;            // the archive's bytes are as before
  int thrownCode;            // code of the exception from EndUpdate, 0 for none
  int journals;              // tails copied into the journal beside the archive (-1: any)
  Contents expected;         // contents afterwards when not identical
};

// Fires f at the start of the file progress of the entry called name.
void atEntryStart(TestArchiver& zip, const std::string& name, std::function<void(bool&)> f) {
  zip.OnFileProgress = [name, f](TZABaseArchiver*, const std::string& file, double, TZAProcessOperation,
                                 TZAProgressPhase phase, bool& cancel) {
    if (phase == ppStart && file == name) f(cancel);
  };
}

}  // namespace

TEST(ZipCommit, FaultTableLeavesAReadableArchive) {
  Contents changedB = baseContents();
  changedB["b.txt"] = sample(250000, 7);
  Contents appended = baseContents();
  appended["e.txt"] = "appended\n";
  Contents firstChanged = baseContents();
  firstChanged["a.txt"] = "new first\n";

  const std::vector<FaultCase> cases = {
      {"no change writes nothing", [](CommitRun&) {}, true, 0, 0, {}},
      {"append only copies only the directory", [](CommitRun& r) { AddText(r.zip, "e.txt", "appended\n"); }, false, 0, 1,
       appended},
      {"a change of the first entry moves the whole tail",
       [](CommitRun& r) { AddText(r.zip, "a.txt", "new first\n"); }, false, 0, 1, firstChanged},
      {"cancel at the start",
       [](CommitRun& r) {
         r.zip.OnOverallProgress = [](TZABaseArchiver*, double, TZAProcessOperation, TZAProgressPhase phase,
                                      bool& cancel) { cancel = phase == ppStart; };
         AddText(r.zip, "b.txt", sample(250000, 7));
       },
       true, 0, 0, {}},
      {"cancel in the middle",
       [](CommitRun& r) {
         AddText(r.zip, "b.txt", sample(250000, 7));
         AddText(r.zip, "e.txt", "appended\n");
         atEntryStart(r.zip, "e.txt", [](bool& cancel) { cancel = true; });
       },
       true, 0, 1, {}},
      {"the tail copy fails",
       [](CommitRun& r) {
         r.zip.TempFailAfter = 5000;
         AddText(r.zip, "b.txt", sample(250000, 7));
       },
       true, 46, 1, {}},
      {"an entry fails and the failure event aborts",
       [](CommitRun& r) {
         AddText(r.zip, "b.txt", sample(250000, 7));
         atEntryStart(r.zip, "b.txt", [&r](bool&) { r.archive.Arm(1000); });
         r.zip.OnProcessFileFailure = [](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t code,
                                         int32_t, const std::string&, TZAAction& action) {
           EXPECT_TRUE(code == 34 || code == 46) << code;  // a short write while compressing, or of the header
           action = fxaAbort;
         };
       },
       true, 0, 1, {}},
      {"a failed new entry is dropped and a failed refresh keeps its old bytes",
       [](CommitRun& r) {
         AddText(r.zip, "b.txt", sample(250000, 7));
         AddText(r.zip, "e.txt", "appended\n");
         r.zip.OnFileProgress = [&r](TZABaseArchiver*, const std::string& file, double, TZAProcessOperation,
                                     TZAProgressPhase phase, bool&) {
           if (phase == ppStart && (file == "b.txt" || file == "e.txt")) r.archive.Arm(40);
         };
         r.zip.OnProcessFileFailure = [](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t,
                                         int32_t, const std::string&, TZAAction& action) { action = fxaIgnore; };
       },
       false, 0, 1, baseContents()},
      {"the directory write fails",
       [](CommitRun& r) {
         AddText(r.zip, "b.txt", sample(250000, 7));
         r.zip.OnFileProgress = [&r](TZABaseArchiver*, const std::string& file, double, TZAProcessOperation,
                                     TZAProgressPhase phase, bool&) {
           if (phase == ppEnd && file == "b.txt") r.archive.Arm(10);
         };
       },
       true, 46, 1, {}},
      {"the directory write of an append fails",
       [](CommitRun& r) {
         AddText(r.zip, "e.txt", "appended\n");
         r.zip.OnFileProgress = [&r](TZABaseArchiver*, const std::string&, double, TZAProcessOperation,
                                     TZAProgressPhase phase, bool&) {
           if (phase == ppEnd) r.archive.Arm(10);
         };
       },
       true, 46, 1, {}},
      {"a retry after a failed entry writes it whole",
       [](CommitRun& r) {
         AddText(r.zip, "b.txt", sample(250000, 7));
         atEntryStart(r.zip, "b.txt", [&r](bool&) { r.archive.Arm(1000); });
         r.zip.OnProcessFileFailure = [&r](TZABaseArchiver*, const std::string&, TZAProcessOperation, int32_t,
                                           int32_t, const std::string&, TZAAction& action) {
           action = fxaRetry;
           r.zip.OnFileProgress = nullptr;
         };
       },
       false, 0, 1, changedB},
  };

  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = testenv::makeDir(std::to_string(&c - cases.data())) / "arc.zip";
    MakeArchive(path, kBase);
    const std::string before = testenv::readFile(path);
    const fs::path temp = testenv::makeDir(std::to_string(&c - cases.data()) + "-temp");
    int thrown = 0;
    {
      TestArchiver zip;
      zip.FileName = path.string();
      zip.TempDir = temp.string();
      zip.OpenArchive();
      CommitRun run{zip, zip.WrapArchiveStream()};
      zip.BeginUpdate();
      c.change(run);
      try {
        zip.EndUpdate();
      } catch (const EZAException& e) {
        thrown = e.NativeError;
      }
      if (c.journals >= 0) {
        EXPECT_EQ(zip.Journals, c.journals);
      }
      EXPECT_EQ(zip.TempFiles, 0) << "the tail went to the temporary folder";
      if (c.identical && c.thrownCode == 0 && std::string(c.name) == "no change writes nothing") {
        EXPECT_EQ(run.archive.Written, 0);
      }
      // The directory in memory describes the archive as it now stands.
      if (c.identical) {
        EXPECT_EQ(ReadBack(zip), baseContents());
      }
      EXPECT_NO_THROW(zip.CloseArchive());
    }
    EXPECT_EQ(thrown, c.thrownCode);
    EXPECT_TRUE(TempFilesIn(temp).empty()) << "a temporary file outlived the commit";
    EXPECT_FALSE(JournalLeft(path)) << "the journal outlived the commit";
    if (c.identical) {
      EXPECT_TRUE(testenv::readFile(path) == before) << "the archive changed";
    } else {
      EXPECT_EQ(ReadBack(path), c.expected);
      PeersAccept(path);
    }
  }
}

TEST(ZipCommit, AFailedRestoreKeepsTheOldTailInTheJournalAndTheNextOpenPutsItBack) {
  const fs::path path = testenv::testRoot() / "arc.zip";
  MakeArchive(path, kBase);
  const std::string before = testenv::readFile(path);
  const fs::path temp = testenv::makeDir("temp");
  std::string message;
  {
    TestArchiver zip;
    zip.FileName = path.string();
    zip.TempDir = temp.string();
    zip.OpenArchive();
    FailingStream& archive = zip.WrapArchiveStream();
    zip.BeginUpdate();
    AddText(zip, "b.txt", sample(250000, 7));
    AddText(zip, "e.txt", "appended\n");
    // Cancel during the second entry; the restore then fails after 50 bytes.
    atEntryStart(zip, "e.txt", [&archive](bool& cancel) {
      cancel = true;
      archive.Arm(50);
    });
    try {
      zip.EndUpdate();
      ADD_FAILURE() << "a failed restore must be reported";
    } catch (const EZAException& e) {
      message = e.Message();
      EXPECT_EQ(e.NativeError, 46);
    }
    EXPECT_EQ(ReadBack(zip), (Contents{{"a.txt", "first entry\n"}}));
  }
  EXPECT_TRUE(TempFilesIn(temp).empty());
  ASSERT_TRUE(JournalLeft(path));
  EXPECT_NE(message.find(TZACommitJournal::NameFor(path.string())), std::string::npos) << message;
  // Meanwhile the head of the archive reads; the next open puts the old archive back whole.
  PeersAccept(path);
  EXPECT_EQ(ReadBack(path), baseContents());
  EXPECT_FALSE(JournalLeft(path));
  EXPECT_TRUE(testenv::readFile(path) == before);
}

TEST(ZipCommit, CloseReportsAFailedCommit) {
  const fs::path path = testenv::testRoot() / "arc.zip";
  MakeArchive(path, kBase);
  const std::string before = testenv::readFile(path);
  TestArchiver zip;
  zip.FileName = path.string();
  zip.TempDir = testenv::makeDir("temp").string();
  zip.OpenArchive();
  FailingStream& archive = zip.WrapArchiveStream();
  zip.BeginUpdate();
  AddText(zip, "e.txt", "appended\n");
  zip.OnFileProgress = [&archive](TZABaseArchiver*, const std::string&, double, TZAProcessOperation,
                                  TZAProgressPhase phase, bool&) {
    if (phase == ppEnd) archive.Arm(10);
  };
  try {
    zip.CloseArchive();
    ADD_FAILURE() << "the close swallowed the failed commit";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 46);
  }
  EXPECT_FALSE(zip.Active());
  EXPECT_TRUE(testenv::readFile(path) == before);
}

// The cut lies where the old directory was found, not where its record says: a stub put in
// front of an archive, or an archive without end record whose directory was rebuilt.
TEST(ZipCommit, AppendsCutWhereTheDirectoryWasFound) {
  const fs::path dir = testenv::testRoot();
  MakeArchive(dir / "plain.zip", kBase);
  const std::string plain = testenv::readFile(dir / "plain.zip");
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"stub put in front", std::string(5000, 'M') + plain},
      {"no end record", plain.substr(0, plain.size() - 22)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = testenv::writeFile(testenv::makeDir(c.name) / "arc.zip", c.bytes);
    Update(path, [](TZipArchiver& zip) { AddText(zip, "e.txt", "appended\n"); });
    EXPECT_EQ(testenv::readFile(path).substr(0, 5000), c.bytes.substr(0, 5000)) << "the head moved";
    Contents expected = baseContents();
    expected["e.txt"] = "appended\n";
    EXPECT_EQ(ReadBack(path), expected);
    EXPECT_EQ(PythonReads(path), expected);
    std::string out;
    EXPECT_EQ(peertools::Run("unzip -tq " + peertools::Quote(path.string()), out), 0) << out;
  }
}

// A directory that lists its entries in another order than the file holds them (some writers
// do): every change is made to the entry it names, the others keep their data, and peers
// read the result.
TEST(ZipCommit, ADirectoryInAnotherOrderThanTheFileKeepsEveryEntry) {
  const fs::path dir = testenv::testRoot();
  MakeArchive(dir / "plain.zip", kBase);
  std::string bytes = testenv::readFile(dir / "plain.zip");
  // The end record (no comment) gives where the directory is; its records go in reverse.
  const size_t end = bytes.size() - 22;
  auto u16 = [&](size_t at) { return size_t(uint8_t(bytes[at])) | size_t(uint8_t(bytes[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  ASSERT_EQ(u32(end), 0x06054b50u);
  const size_t start = u32(end + 16), size = u32(end + 12);
  std::vector<std::string> records;
  for (size_t at = start; at < start + size;) {
    const size_t length = 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
    records.push_back(bytes.substr(at, length));
    at += length;
  }
  ASSERT_EQ(records.size(), kBase.size());
  std::string reversed;
  for (auto it = records.rbegin(); it != records.rend(); ++it) reversed += *it;
  bytes.replace(start, size, reversed);
  struct Case {
    const char* name;
    std::function<void(TZipArchiver&)> change;
    Contents expected;
  };
  Contents deleted = baseContents(), renamed = baseContents(), added = baseContents();
  deleted.erase("a.txt");
  renamed["z.txt"] = renamed["a.txt"];
  renamed.erase("a.txt");
  added["e.txt"] = "appended\n";
  added["c.txt"] = "new c\n";
  const Case cases[] = {
      {"delete the first in the file", [](TZipArchiver& zip) { zip.DeleteFiles("a.txt"); }, deleted},
      {"rename the first in the file", [](TZipArchiver& zip) { zip.RenameFile("a.txt", "z.txt"); }, renamed},
      {"replace one and add one",
       [](TZipArchiver& zip) {
         AddText(zip, "c.txt", "new c\n");
         AddText(zip, "e.txt", "appended\n");
       },
       added},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = testenv::writeFile(testenv::makeDir(c.name) / "arc.zip", bytes);
    Update(path, c.change);
    EXPECT_EQ(ReadBack(path), c.expected);
    EXPECT_EQ(PythonReads(path), c.expected);
    std::string out;
    EXPECT_EQ(peertools::Run("unzip -tq " + peertools::Quote(path.string()), out), 0) << out;
  }
}
