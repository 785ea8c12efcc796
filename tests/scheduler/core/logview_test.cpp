#include "scheduler/core/logview.h"

#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Firsts(const core::LogView& view) {
  std::vector<std::string> out;
  for (const auto& row : view.rows) out.push_back(row.texts[0]);
  return out;
}

}  // namespace

TEST(LogViewRead, LinesAsTheViewerShowsThem) {
  using V = std::vector<std::string>;
  const core::LogViewLimits small{3, 8, 1000};
  struct Case {
    const char* name;
    std::string bytes;
    V firsts;
    bool more, cut;
  } cases[] = {
      {"empty", "", {}, false, false},
      {"crlf_and_no_final_break", "a;x\r\nb;y\r\nc", {"a", "b", "c"}, false, false},
      {"blank_line_kept", "a\n\nb\n", {"a", "", "b"}, false, false},
      {"exactly_the_rows", "a\nb\nc\n", {"a", "b", "c"}, false, false},
      {"one_row_more", "a\nb\nc\nd", {"a", "b", "c"}, true, false},
      {"line_at_the_limit_with_cr", "12345678\r\n", {"12345678"}, false, false},
      {"one_past_the_limit_with_cr", "123456789\r\n", {"12345678"}, false, true},
      {"long_line_cut", "123456789012;x\nb\n", {"12345678", "b"}, false, true},
      {"long_last_line_cut", "a\n1234567890", {"a", "12345678"}, false, true},
      {"cut_keeps_whole_characters", "1234567\xC3\xA9xyz\n", {"1234567"}, false, true},
      {"nul_bytes_kept", std::string("a\0b;c\n", 6), {std::string("a\0b", 3)}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = testenv::writeFile(testenv::testRoot() / (std::string(c.name) + ".log"), c.bytes);
    const core::LogView view = core::ReadLogForViewer(path.string(), small);
    EXPECT_EQ(Firsts(view), c.firsts);
    EXPECT_EQ(view.moreLines, c.more);
    EXPECT_EQ(view.cutLines, c.cut);
  }
}

TEST(LogViewRead, ByteBudgetStopsTheReading) {
  const auto path = testenv::writeFile(testenv::testRoot() / "20240101.log", "aaaa\nbbbb\ncccc\n");
  const core::LogView view = core::ReadLogForViewer(path.string(), {100, 100, 8});
  EXPECT_EQ(Firsts(view), (std::vector<std::string>{"aaaa", "bbbb"}));
  EXPECT_TRUE(view.moreLines);
  EXPECT_EQ(core::LogViewNotice(view), "Journal trop volumineux : seules les 2 premières lignes sont affichées.");
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
      {root / "absent.log", "Fichier ou répertoire introuvable"},
      {closed, "Accès refusé"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    if (c.path == closed && root_user) continue;  // root reads it all the same
    try {
      core::ReadLogForViewer(c.path.string());
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier journal " + c.path.string() + " : " + c.reason);
    }
  }
}

// A log far larger than what is shown: only the shown part is read and kept.
TEST(LogViewRead, HugeLogsStayBounded) {
  const fs::path root = testenv::testRoot();
  std::string many;
  for (int i = 0; i < 200000; ++i) many += "10:00:00 Erreur F ;/home/u/f" + std::to_string(i) + ";Accès refusé : /d/f;;;\n";
  const auto manyLines = testenv::writeFile(root / "20240101.log", many);
  const auto oneLine = testenv::writeFile(root / "20240102.log", "10:00:00;" + std::string(50u << 20, 'x') + ";/d;*.*;oui;\n");

  const core::LogView first = core::ReadLogForViewer(manyLines.string());
  EXPECT_EQ(first.rows.size(), 50000u);
  EXPECT_EQ(first.rows.back().texts[1], "/home/u/f49999");
  EXPECT_TRUE(first.moreLines);
  EXPECT_EQ(core::LogViewNotice(first),
            "Journal trop volumineux : seules les 50\u00A0000 premières lignes sont affichées.");

  const core::LogView second = core::ReadLogForViewer(oneLine.string());
  ASSERT_EQ(second.rows.size(), 1u);
  EXPECT_EQ(second.rows[0].texts[1].size(), 16384u - 9u);
  EXPECT_FALSE(second.moreLines);
  EXPECT_TRUE(second.cutLines);
  EXPECT_EQ(core::LogViewNotice(second), "Les lignes trop longues sont affichées coupées.");
}
