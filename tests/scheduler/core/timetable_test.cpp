#include "scheduler/core/timetable.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/asnobody.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

const char* kMonday = "30|12|1|0|0|0|0|0|0|/home/u/Documents|*.*|/media/save|1|0|";
const char* kEvery5 = "5|0|0|0|0|0|0|0|0|/home/u/Documents|*.doc|/srv/copie|1|0|";

fs::path schedulePath() { return testenv::makeDir("data") / core::kScheduleFileName; }

TEST(ScheduleFile, MissingFileIsCreatedWithItsEmptyFirstLine) {
  fs::path path = schedulePath();
  core::ScheduleLoad load = core::LoadScheduleFile(path);
  EXPECT_TRUE(load.ok);
  EXPECT_TRUE(load.created);
  EXPECT_EQ(load.lines, Lines{""});
  EXPECT_EQ(testenv::readFile(path), "\n");

  load = core::LoadScheduleFile(path);
  EXPECT_FALSE(load.created);
  EXPECT_EQ(load.lines, Lines{""});
}

TEST(ScheduleFile, ReadsEveryLineAsWritten) {
  struct Case {
    const char* name;
    std::string bytes;
    Lines lines;
  };
  const Case cases[] = {
      {"lf", std::string("\n") + kMonday + "\n" + kEvery5 + "\n", {"", kMonday, kEvery5}},
      {"crlf", std::string("\r\n") + kMonday + "\r\n" + kEvery5 + "\r\n", {"", kMonday, kEvery5}},
      {"middle empty line", std::string("\n") + kMonday + "\n\n" + kEvery5 + "\n", {"", kMonday, "", kEvery5}},
      {"no last line break", std::string("\n") + kMonday, {"", kMonday}},
      {"short line", "\n5|7|\n", {"", "5|7|"}},
      {"empty file", "", {}},
      {"bytes that are not UTF-8", "\n1|2|\xff\xfe|\n", {"", "1|2|\xff\xfe|"}},
  };
  for (const auto& c : cases) {
    fs::path path = testenv::writeFile(schedulePath(), c.bytes);
    core::ScheduleLoad load = core::LoadScheduleFile(path);
    EXPECT_TRUE(load.ok) << c.name;
    EXPECT_FALSE(load.created) << c.name;
    EXPECT_EQ(load.lines, c.lines) << c.name;
  }
}

TEST(ScheduleFile, UnreadableFileIsReportedNotCreated) {
  fs::path dir = testenv::makeDir("data") / core::kScheduleFileName;  // a folder in its place
  fs::create_directories(dir);
  core::ScheduleLoad load = core::LoadScheduleFile(dir);
  EXPECT_FALSE(load.ok);
  EXPECT_FALSE(load.errorText.empty());
  EXPECT_TRUE(fs::is_directory(dir));

  fs::path file = testenv::writeFile(testenv::makeDir("p") / "plain", "x");
  load = core::LoadScheduleFile(file / core::kScheduleFileName);  // parent is a file
  EXPECT_FALSE(load.ok);
  EXPECT_NE(load.errorText.find("dossier introuvable"), std::string::npos) << load.errorText;
}

TEST(ScheduleFile, FifoInItsPlaceIsReportedWithoutBlocking) {
  fs::path fifo = schedulePath();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  core::ScheduleLoad load = core::LoadScheduleFile(fifo);
  EXPECT_FALSE(load.ok);
  EXPECT_NE(load.errorText.find("Impossible de lire"), std::string::npos) << load.errorText;
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(ScheduleRow, ShowsTheFieldsOfALine) {
  struct Case {
    size_t index;
    const char* line;
    const char* caption;
    const char* heures;
    const char* source;
    const char* cible;
    const char* filtre;
    const char* sous;
    const char* bdd;
  };
  const Case cases[] = {
      {1, kMonday, "001", "12:30", "/home/u/Documents", "/media/save", "*.*", "oui", "non"},
      {12, "5|7|0|0|0|0|0|0|0|/a|*.doc|/b|0|1|", "012", "07:05", "/a", "/b", "*.doc", "non", "oui"},
      {1000, "5|7|0|0|0|0|0|0|0|/a|*.doc|/b|1|1", "1000", "07:05", "/a", "/b", "*.doc", "oui", "oui"},
      {3, "5|7|", "003", "07:05", "", "", "", "non", "non"},       // short line
      {4, "x|", "004", ":0x", "", "", "", "non", "non"},           // hours missing
      {5, "ab|cd|1|1|1|1|1|1|1|/s|*|/t|1|0|", "005", "cd:ab", "/s", "/t", "*", "oui", "non"},
      {0, "9|9|", "000", "09:09", "", "", "", "non", "non"},
      {6, "5|7|0|0|0|0|0|0|0|/a|*.doc|/b", "006", "07:05", "/a", "/b", "*.doc", "non", "non"},  // last "|" missing
      {7, "5|7|0|0|0|0|0|0|0|/a|*.doc|/b|1|1|more|", "007", "07:05", "/a", "/b", "*.doc", "oui", "oui"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(core::HasScheduleRow(c.line)) << c.line;
    // The columns in the order the list shows them, as the list's rows ask for them.
    const char* expected[core::kScheduleRowColumns] = {c.caption, c.heures, c.source, c.cible, c.filtre, c.sous, c.bdd};
    std::string scratch;
    for (int column = 0; column < core::kScheduleRowColumns; ++column)
      EXPECT_EQ(core::ScheduleRowText(c.index, c.line, column, scratch), expected[column]) << c.line << " column " << column;
    EXPECT_EQ(core::ScheduleRowText(c.index, c.line, core::kScheduleRowColumns, scratch), "") << c.line;
  }
  EXPECT_FALSE(core::HasScheduleRow(""));  // an empty line gets no row
}

// The list asks for its texts whenever it paints: a long path is not copied for that.
TEST(ScheduleRow, PathColumnsAreViewsIntoTheLine) {
  const std::string line = "0|1|0|0|0|0|0|0|0|/s" + std::string(1 << 20, 's') + "|*.*|/t" + std::string(1 << 20, 't') + "|1|0|";
  std::string scratch;
  for (int column : {2, 3, 4}) {
    const std::string_view text = core::ScheduleRowText(1, line, column, scratch);
    EXPECT_GE(text.data(), line.data()) << column;
    EXPECT_LE(text.data() + text.size(), line.data() + line.size()) << column;
  }
  EXPECT_EQ(core::ScheduleRowText(1, line, 3, scratch).size(), (1u << 20) + 2);
  EXPECT_EQ(core::ScheduleRowText(1, line, 7, scratch), "");
}

TEST(ScheduleRow, SortOrderIsTextualWithoutLetterCase) {
  EXPECT_LT(core::CompareText("1000", "101"), 0);  // textual, as the list sorts captions
  EXPECT_LT(core::CompareText("099", "100"), 0);
  EXPECT_LT(core::CompareText("07:05", "12:30"), 0);
  EXPECT_EQ(core::CompareText("/Home/A", "/home/a"), 0);
  EXPECT_LT(core::CompareText("abc", "ABD"), 0);
  EXPECT_GT(core::CompareText("ab", "A"), 0);
  EXPECT_LT(core::CompareText("non", "oui"), 0);
}

TEST(ScheduleLine, TextAndParseAgree) {
  core::ScheduleLine e = core::ScheduleLine::Parse(kMonday);
  EXPECT_EQ(e.minutes, "30");
  EXPECT_EQ(e.hours, "12");
  EXPECT_EQ(e.days[0], "1");
  EXPECT_EQ(e.days[6], "0");
  EXPECT_EQ(e.source, "/home/u/Documents");
  EXPECT_EQ(e.filter, "*.*");
  EXPECT_EQ(e.target, "/media/save");
  EXPECT_EQ(e.subFolders, "1");
  EXPECT_EQ(e.overwrite, "0");
  EXPECT_EQ(e.Text(), kMonday);
}

TEST(ScheduleFile, AppendNeverGluesOntoAHandEditedLastLine) {
  fs::path path = testenv::writeFile(schedulePath(), std::string("\n") + kMonday);  // no final break
  ASSERT_TRUE(core::AppendScheduleLine(path, core::ScheduleLine::Parse(kEvery5)));
  ASSERT_TRUE(core::AppendLine(path, kMonday));
  EXPECT_EQ(testenv::readFile(path), std::string("\n") + kMonday + "\n" + kEvery5 + "\n" + kMonday + "\n");
}

TEST(ScheduleFile, AppendFailuresAreReported) {
  std::string err;
  EXPECT_FALSE(core::AppendLine(schedulePath(), kMonday, &err));  // missing file: not created
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(fs::exists(schedulePath()));

  err.clear();
  EXPECT_FALSE(core::AppendLine("/dev/full", kMonday, &err));
  EXPECT_NE(err.find("disque plein"), std::string::npos) << err;

  // A "|" or a line break inside a field would shift the target of the entry.
  fs::path path = testenv::writeFile(schedulePath(), "\n");
  for (const char* source : {"/home/a|b", "/home/a\nb", "/home/a\rb"}) {
    core::ScheduleLine e = core::ScheduleLine::Parse(kMonday);
    e.source = source;
    err.clear();
    EXPECT_FALSE(core::AppendScheduleLine(path, e, &err));
    EXPECT_FALSE(err.empty());
  }
  EXPECT_EQ(testenv::readFile(path), "\n");
}

TEST(ScheduleFile, SaveReplacesTheWholeFile) {
  fs::path path = testenv::writeFile(schedulePath(), std::string("\r\n") + kMonday + "\r\n" + kEvery5 + "\r\n");
  ASSERT_TRUE(core::SaveScheduleFile(path, {"", kEvery5}));
  EXPECT_EQ(testenv::readFile(path), std::string("\n") + kEvery5 + "\n");

  ASSERT_TRUE(core::SaveScheduleFile(path, {}));  // an empty list writes nothing
  EXPECT_EQ(testenv::readFile(path), std::string("\n") + kEvery5 + "\n");
}

TEST(ScheduleFile, FailedSaveKeepsTheOldFile) {
  std::string err;
  fs::path file = testenv::writeFile(testenv::makeDir("p") / "plain", "x");
  EXPECT_FALSE(core::SaveScheduleFile(file / core::kScheduleFileName, {"", kMonday}, &err));  // ENOTDIR
  EXPECT_NE(err.find("Impossible d'enregistrer"), std::string::npos) << err;

  if (geteuid() != 0) GTEST_SKIP() << "the second case needs root (a save run as nobody)";
  fs::path dir = testenv::makeDir("locked");  // root's folder: nobody cannot write there
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  const std::string old = std::string("\n") + kMonday + "\n" + kEvery5 + "\n";
  fs::path path = testenv::writeFile(dir / core::kScheduleFileName, old);
  fs::permissions(path, fs::perms::others_write, fs::perm_options::add);  // the file itself is writable

  const int status = testenv::RunAsNobody([&] {
    std::string childErr;
    bool saved = core::SaveScheduleFile(path, {"", kEvery5}, &childErr);
    return saved ? 0 : (childErr.find("accès refusé") != std::string::npos ? 1 : 2);
  });
  if (status == testenv::kCannotBecomeNobody) GTEST_SKIP() << "this process cannot become nobody here";
  EXPECT_EQ(status, 1);  // refused and reported
  EXPECT_EQ(testenv::readFile(path), old);  // not truncated, nothing lost
  for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path(), path);  // no temp left
}

TEST(ScheduleLines, DeleteRemovesTheNamedLine) {
  Lines lines{"", "a", "b", "c"};
  EXPECT_TRUE(core::DeleteScheduleLine(lines, 2));
  EXPECT_EQ(lines, (Lines{"", "a", "c"}));
  EXPECT_FALSE(core::DeleteScheduleLine(lines, 3));
  EXPECT_EQ(lines, (Lines{"", "a", "c"}));

  Lines handEdited{kMonday, "a"};  // an entry on the first line
  EXPECT_TRUE(core::DeleteScheduleLine(handEdited, 0));
  EXPECT_EQ(handEdited, (Lines{"", "a"}));  // the first line stays, emptied
}

}  // namespace
