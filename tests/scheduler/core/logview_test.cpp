#include "scheduler/core/logview.h"

#include "scheduler/core/dailylog.h"
#include "scheduler/core/history.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

using V = std::vector<std::string>;

V Column(const core::LogView& view, int column) {
  V out;
  for (std::size_t r = 0; r < view.rows(); ++r) out.emplace_back(view.text(r, column));
  return out;
}

core::LogView ReadText(const std::string& name, const std::string& bytes, const core::LogViewLimits& limits = {}) {
  const auto path = testenv::writeFile(testenv::testRoot() / (name + ".log"), bytes);
  return core::LogView::Read(path.string(), limits);
}

}  // namespace

TEST(LogViewRead, LinesAsTheViewerShowsThem) {
  const core::LogViewLimits small{8, 1000, 100};
  struct Case {
    const char* name;
    std::string bytes;
    V firsts;
    bool cut;
  } cases[] = {
      {"empty", "", {}, false},
      {"crlf_and_no_final_break", "a;x\r\nb;y\r\nc", {"a", "b", "c"}, false},
      {"blank_line_kept", "a\n\nb\n", {"a", "", "b"}, false},
      {"only_line_breaks", "\n\r\n\n", {"", "", ""}, false},
      {"line_at_the_limit_with_cr", "12345678\r\n", {"12345678"}, false},
      {"one_past_the_limit_with_cr", "123456789\r\n", {"12345678"}, true},
      {"long_line_cut", "123456789012;x\nb\n", {"12345678", "b"}, true},
      {"long_last_line_cut", "a\n1234567890", {"a", "12345678"}, true},
      {"cut_keeps_whole_characters", "1234567\xC3\xA9xyz\n", {"1234567"}, true},
      {"nul_bytes_kept", std::string("a\0b;c\n", 6), {std::string("a\0b", 3)}, false},
      {"invalid_utf8_kept", "\xFF\xFE;\xC3\n", {"\xFF\xFE"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const core::LogView view = ReadText(c.name, c.bytes, small);
    EXPECT_EQ(Column(view, 1), c.firsts);
    EXPECT_FALSE(view.olderLinesLeftOut());
    EXPECT_EQ(view.cutLines(), c.cut);
    EXPECT_EQ(core::LogViewNotice(view), c.cut ? "Les lignes trop longues sont affichées coupées." : "");
  }
}

// The viewer reads back what the log writes.
TEST(LogViewRead, ClassifiesEveryLineKind) {
  const std::string t = "10:00:00";
  struct Case {
    std::string line;
    int image;
    V texts;
  } cases[] = {
      {core::RunLogLine(t, "/s", "/d", "*.*", true), 1, {t, "/s", "/d", "*.*", "oui"}},
      {core::TargetMissingLogLine(t, "/s", "/d"), 0, {t + " Erreur", "/s", "Cible non présente  /d", "", ""}},
      {core::NetworkLogLine(t, "/s", "/d"), 0, {t + " Erreur", "/s", "Ordinateur Réseau non connecté...  /d", "", ""}},
      {core::FileErrorLogLine(t, "/s/f", "msg", "/d/f"), 2, {t + " Erreur F ", "/s/f", "msg : /d/f", "", ""}},
      {core::ExceptionLogLine(t, "boom", "/s/f"), 2, {t + " Erreur F ", "boom", "/s/f", "", ""}},
      {core::LockLogLine(t, "/s/f", "/d/f"), 2,
       {t + " Erreur F ", "/s/f",
        "Le processus ne peut pas accéder au fichier car un autre processus en a verrouillé une partie", "/d/f", ""}},
      {"10:00:00;a;b;c;d;e;f;g;\r", 1, {t, "a", "b", "c", "d"}},  // CRLF, fields past the fifth
      {"", 1, {"", "", "", "", ""}},
      {"erreur f;x", 1, {"erreur f", "x", "", "", ""}},  // case-sensitive
      {"no separator at all", 1, {"no separator at all", "", "", "", ""}},
  };
  std::string bytes;
  for (const auto& c : cases) bytes += c.line + "\n";
  const core::LogView view = ReadText("kinds", bytes);
  ASSERT_EQ(view.rows(), std::size(cases));
  for (std::size_t r = 0; r < view.rows(); ++r) {
    SCOPED_TRACE(cases[r].line);
    EXPECT_EQ(view.image(r), cases[r].image);
    EXPECT_EQ(view.text(r, 0), "");  // the caption
    V texts;
    for (int c = 1; c < core::LogView::kColumns; ++c) texts.emplace_back(view.text(r, c));
    EXPECT_EQ(texts, cases[r].texts);
  }
}

// Only a log larger than the budget is shown in part, from the first whole line of its newest
// part; a file of empty lines keeps its newest rows too.
TEST(LogViewRead, AnOversizedLogShowsItsNewestLines) {
  const std::string abc = "aaaa\nbbbb\ncccc\n";  // 15 bytes
  struct Case {
    const char* name;
    std::string bytes;
    core::LogViewLimits limits;
    V firsts;
    bool leftOut;
  } cases[] = {
      {"whole_at_the_budget", abc, {100, 15, 100}, {"aaaa", "bbbb", "cccc"}, false},
      {"budget_splits_the_first_line", abc, {100, 14, 100}, {"bbbb", "cccc"}, true},
      {"budget_starts_on_a_line", abc, {100, 10, 100}, {"bbbb", "cccc"}, true},
      {"budget_inside_a_line", abc, {100, 9, 100}, {"cccc"}, true},
      {"budget_in_the_last_line", "aaaa\nbbbbbbbbbbbb", {100, 4, 100}, {}, true},
      {"rows_at_the_limit", abc, {100, 100, 3}, {"aaaa", "bbbb", "cccc"}, false},
      {"newest_rows", abc, {100, 100, 2}, {"bbbb", "cccc"}, true},
      {"one_row_one_line", "aaaa\n", {100, 100, 1}, {"aaaa"}, false},
      {"one_row_the_last", abc, {100, 100, 1}, {"cccc"}, true},
      {"empty_lines", std::string(1000, '\n') + "z\n", {100, 100000, 3}, {"", "", "z"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const core::LogView view = ReadText(c.name, c.bytes, c.limits);
    EXPECT_EQ(Column(view, 1), c.firsts);
    EXPECT_EQ(view.olderLinesLeftOut(), c.leftOut);
  }
  const core::LogView part = ReadText("part", abc, {100, 10, 100});
  EXPECT_EQ(core::LogViewNotice(part),
            "Journal trop volumineux : ses lignes les plus anciennes ne sont pas affichées, seules les 2 dernières le sont.");
}

// What is not a readable regular file is refused at once, in French; a FIFO never blocks.
TEST(LogViewRead, RefusesWhatIsNotAReadableFile) {
  const fs::path root = testenv::testRoot();
  const fs::path fifo = root / "20240101.log", folder = root / "20240102.log", closed = root / "20240103.log";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(folder);
  testenv::writeFile(closed, "a;b\n");
  fs::permissions(closed, fs::perms::none);
  const bool root_user = ::geteuid() == 0;
  struct Case {
    fs::path path;
    std::string reason;
  } cases[] = {
      {fifo, "ce n'est pas un fichier"},
      {folder, "ce n'est pas un fichier"},
      {"/dev/zero", "ce n'est pas un fichier"},
      {root / "absent.log", "Fichier ou répertoire introuvable"},
      {closed, "Accès refusé"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    if (c.path == closed && root_user) continue;  // root reads it all the same
    try {
      core::LogView::Read(c.path.string());
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier journal " + c.path.string() + " : " + c.reason);
    }
  }
}

// The view is the file as it was read: a run appending to it, or the file cut or replaced
// afterwards, changes nothing that is shown.
TEST(LogViewRead, TheFileChangingAfterwardsLeavesTheViewAsRead) {
  const fs::path path = testenv::testRoot() / "20240101.log";
  testenv::writeFile(path, "10:00:00;/a;/b;*.*;oui;\n10:00:01;/c;/d;*.*;non;\n");
  const core::LogView view = core::LogView::Read(path.string());
  testenv::writeFile(path, "x\n");
  ::truncate(path.c_str(), 0);
  fs::remove(path);
  ASSERT_EQ(view.rows(), 2u);
  EXPECT_EQ(Column(view, 2), (V{"/a", "/c"}));
}

// Sorting orders rows as the viewer's comparison does, keeping the order of rows that compare
// equal, whatever the shape of the texts (short, equal first bytes, NUL bytes, letter case).
TEST(LogViewSort, OrdersAsTheComparisonWithTiesKept) {
  std::mt19937 random(7);
  const std::string alphabet("aA_zZ\0\xC3\xA9:0 ;", 13);
  std::string bytes;
  for (int i = 0; i < 6000; ++i) {
    // Common starts shorter and longer than eight bytes, in most rows.
    const char* starts[] = {"", "/home/u/", "/home/U/Documents/x/"};
    std::string line = starts[i % 3];
    const int n = static_cast<int>(random() % 14);
    for (int k = 0; k < n; ++k) line += alphabet[random() % alphabet.size()];
    bytes += line + ";" + std::to_string(i) + "\n";
  }
  const core::LogView unsorted = ReadText("shapes", bytes);
  for (int column : {1, 3, 0, 2}) {
    SCOPED_TRACE(column);
    core::LogView view = unsorted;
    view.sortBy(2);  // an earlier order (the numbers as texts), which ties keep
    std::vector<std::size_t> expected(view.rows());
    for (std::size_t r = 0; r < expected.size(); ++r) expected[r] = view.lineOf(r);
    std::stable_sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
      return column > 0 && core::CompareAsciiNoCase(core::LogField(unsorted.line(a), column),
                                                    core::LogField(unsorted.line(b), column)) < 0;
    });
    view.sortBy(column);
    std::vector<std::size_t> got(view.rows());
    for (std::size_t r = 0; r < got.size(); ++r) got[r] = view.lineOf(r);
    EXPECT_EQ(got, expected);
  }
}

// A million lines of a run's own kinds are all shown, the newest last, and sort by time with
// the error lines after the plain time of the same second.
TEST(LogViewSort, AMillionLinesOfARun) {
  const std::size_t count = 1000000;
  std::string bytes;
  bytes.reserve(count * 110);
  char t[16];
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t second = (count - 1 - i) / 4 % 86400;  // late first; every kind in each second
    std::snprintf(t, sizeof t, "%02zu:%02zu:%02zu", second / 3600, second / 60 % 60, second % 60);
    const std::string f = "/home/u/Documents/dossier " + std::to_string(i % 977) + "/fichier " + std::to_string(i);
    switch (i % 4) {
      case 0: bytes += core::FileErrorLogLine(t, f, "Accès refusé", "/media/cle" + f); break;
      case 1: bytes += core::RunLogLine(t, "/home/u/Documents", "/media/cle", "*.*", true); break;
      case 2: bytes += core::LockLogLine(t, f, "/media/cle" + f); break;
      default: bytes += core::TargetMissingLogLine(t, "/home/u", "/media/cle"); break;
    }
    bytes += "\r\n";
  }
  core::LogView view = ReadText("million", bytes);
  ASSERT_EQ(view.rows(), count);
  EXPECT_EQ(core::LogViewNotice(view), "");
  EXPECT_EQ(view.text(count - 4, 2), "/home/u/Documents/dossier " + std::to_string((count - 4) % 977) + "/fichier 999996");
  EXPECT_EQ(view.image(count - 4), 2);

  view.sortBy(1);
  for (std::size_t r = 1; r < view.rows(); ++r)
    ASSERT_LE(view.compare(r - 1, r, 1), 0) << r;
  // The plain time, then its error lines.
  std::size_t r = 0;
  V seen;
  for (; r < view.rows() && view.text(r, 1).substr(0, 8) == "00:00:00"; ++r)
    if (seen.empty() || seen.back() != view.text(r, 1)) seen.emplace_back(view.text(r, 1));
  EXPECT_EQ(seen, (V{"00:00:00", "00:00:00 Erreur", "00:00:00 Erreur F "}));
  EXPECT_EQ(r, 12u);  // three runs through that second, four lines each
  EXPECT_EQ(view.text(view.rows() - 1, 1), "23:59:59 Erreur F ");

  const auto longest = view.longestRows();
  EXPECT_EQ(view.text(longest[1], 1), "00:00:00 Erreur F ");
  EXPECT_EQ(view.text(longest[3], 3).substr(0, 14), "Le processus n");
}

// One line of 50 MB: cut, and only the cut part is kept.
TEST(LogViewRead, AHugeLineIsCut) {
  const core::LogView view = ReadText("20240102", "10:00:00;" + std::string(50u << 20, 'x') + ";/d;*.*;oui;\n");
  ASSERT_EQ(view.rows(), 1u);
  EXPECT_EQ(view.line(0).size(), 16384u);
  EXPECT_EQ(view.text(0, 2).size(), 16384u - 9u);
  EXPECT_EQ(view.text(0, 3), "");
  EXPECT_TRUE(view.cutLines());
  EXPECT_FALSE(view.olderLinesLeftOut());
}
