// The log viewer: every line of a large log, columns that can be read, and a file that changes
// while it is shown.
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "scheduler/core/dailylog.h"
#include "scheduler/ui/tform2.h"
#include "tests/support/testenv.h"
#include "tests/support/textfit.h"

namespace {

std::string S(const QVariant& v) { return v.toString().toStdString(); }

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// A long daily log of a run's own lines, written to disk a line at a time.
std::filesystem::path WriteRunLog(const std::filesystem::path& path, std::size_t lines) {
  FILE* out = std::fopen(path.c_str(), "w");
  char t[16];
  for (std::size_t i = 0; i < lines; ++i) {
    std::snprintf(t, sizeof t, "%02zu:%02zu:%02zu", i / 3600 % 24, i / 60 % 60, i % 60);
    const std::string f = "/home/marie/Documents/Comptabilité/dossier " + std::to_string(i % 997) +
                          "/facture " + std::to_string(i) + ".pdf";
    std::string line;
    switch (i % 3) {
      case 0: line = core::FileErrorLogLine(t, f, "Permission non accordée", "/media/marie/SAUVEGARDE" + f); break;
      case 1: line = core::LockLogLine(t, f, "/media/marie/SAUVEGARDE" + f); break;
      default: line = core::RunLogLine(t, "/home/marie/Documents", "/media/marie/SAUVEGARDE", "*.*", true); break;
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), out);
  }
  std::fclose(out);
  return path;
}

const std::string kLong = "/home/marie-christine/Documents/Comptabilité/Exercice 2024/Factures fournisseurs";

// At the window's own width and wider, with the test platform's font and a usual desktop's
// larger one: every time and its " Erreur F " whole, the paths giving up room, no column
// title cut, and no column pushed out of sight. The errors come after the first thousand rows,
// where the view does not measure.
TEST(LogViewer, TimesStayWholeAndThePathsGiveRoom) {
  std::string log;
  for (int i = 0; i < 1500; ++i) log += core::RunLogLine("08:15:02", kLong, "/media/marie/SAUVEGARDE", "*.*", true) + "\n";
  log += core::TargetMissingLogLine("09:00:00", kLong, "/media/marie/CLE USB") + "\n";
  log += core::FileErrorLogLine("11:00:06", kLong + "/a.pdf", "Permission non accordée", "/srv/copies/a.pdf") + "\n";
  log += core::LockLogLine("11:00:07", kLong + "/b.pdf", "/srv/copies/comptabilité/2024/b.pdf") + "\n";
  const auto path = testenv::writeFile(testenv::testRoot() / "20240315.log", log);

  for (double scale : {1.0, 1.4}) {
    for (int wide : {700, 1000, 1600}) {
      SCOPED_TRACE("font x" + std::to_string(scale) + ", " + std::to_string(wide) + " px");
      ui::TForm2 viewer;
      QFont font = viewer.Listview1->font();
      font.setPointSizeF(font.pointSizeF() * scale);
      viewer.Listview1->setFont(font);
      viewer.resize(wide, 450);
      viewer.ShowLog(path.string());
      Settle();
      QTableView* list = viewer.Listview1;
      QHeaderView* header = list->horizontalHeader();
      const QFontMetrics metrics(list->font());
      const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
      for (const char* time : {"08:15:02", "09:00:00 Erreur", "11:00:06 Erreur F "})
        EXPECT_GE(header->sectionSize(1), metrics.horizontalAdvance(QString::fromUtf8(time)) + margins) << time;
      int used = 0;
      for (int c = 0; c < header->count(); ++c) used += header->sectionSize(c);
      EXPECT_LE(used, list->viewport()->width());
      EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
      const int path = metrics.horizontalAdvance(QString::fromStdString(kLong)) + margins;
      if (wide == 700) EXPECT_LT(header->sectionSize(2), path);  // the paths gave room
      if (wide == 1600 && scale == 1.0) EXPECT_GE(header->sectionSize(2), path);
      const QStringList clipped = testenv::ClippedTexts(&viewer);
      EXPECT_TRUE(clipped.isEmpty()) << clipped.join('\n').toStdString();
    }
  }
}

// A million lines open whole, with the newest at the end, within little more memory than the
// file itself; sorting by a column keeps every row.
TEST(LogViewer, AMillionLinesOpenWholeWithinTheFilesSize) {
  const std::size_t lines = 1000000;
  const auto path = WriteRunLog(testenv::testRoot() / "20240316.log", lines);
  const auto bytes = static_cast<long>(std::filesystem::file_size(path));
  ui::TForm2 viewer;
  viewer.resize(900, 500);
  viewer.show();
  Settle();
  const long before = testenv::statusKiB("VmRSS");
  testenv::resetPeakMemory();
  const auto start = std::chrono::steady_clock::now();
  viewer.ShowLog(path.string());
  Settle();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long peak = testenv::statusKiB("VmHWM");
  RecordProperty("open_ms", static_cast<int>(seconds * 1000));
  RecordProperty("peak_growth_kib", static_cast<int>(peak - before));
  std::printf("open %.2f s, peak growth %ld KiB for a file of %ld KiB\n", seconds, peak - before, bytes / 1024);

  ui::LogListModel* rows = viewer.Rows();
  ASSERT_EQ(rows->rowCount(), static_cast<int>(lines));
  EXPECT_FALSE(viewer.Label1->isVisible());
  EXPECT_EQ(S(rows->index(rows->rowCount() - 1, 2).data()),
            "/home/marie/Documents/Comptabilité/dossier " + std::to_string((lines - 1) % 997) + "/facture 999999.pdf");
  // The file's bytes, some bytes a line for the list, and no more.
  if (before > 0 && peak > 0) EXPECT_LT((peak - before) * 1024, bytes + static_cast<long>(lines) * 24 + (16l << 20));

  viewer.Listview1->scrollToBottom();
  viewer.Listview1->horizontalHeader()->sectionClicked(2);
  Settle();
  EXPECT_EQ(rows->rowCount(), static_cast<int>(lines));
  EXPECT_EQ(S(rows->index(0, 2).data()), "/home/marie/Documents");
  EXPECT_LE(viewer.Listview1Compare(rows->index(lines / 2, 0), rows->index(lines / 2 + 1, 0)), 0);
}

// The list was read whole: the file growing, cut or gone while it is shown changes nothing.
TEST(LogViewer, AFileChangingWhileShownLeavesTheList) {
  const auto path = WriteRunLog(testenv::testRoot() / "20240317.log", 3000);
  ui::TForm2 viewer;
  viewer.resize(700, 450);
  viewer.ShowLog(path.string());
  Settle();
  const std::string last = S(viewer.Rows()->index(2999, 2).data());
  ASSERT_FALSE(last.empty());
  {
    FILE* out = std::fopen(path.c_str(), "a");
    std::fputs("23:00:00;/x;/y;*.*;oui;\n", out);
    std::fclose(out);
  }
  ASSERT_EQ(::truncate(path.c_str(), 10), 0);
  viewer.Listview1->scrollToBottom();
  viewer.grab();
  EXPECT_EQ(viewer.Rows()->rowCount(), 3000);
  EXPECT_EQ(S(viewer.Rows()->index(2999, 2).data()), last);
  ::unlink(path.c_str());
  viewer.Listview1->horizontalHeader()->sectionClicked(1);
  viewer.Listview1->scrollToBottom();
  viewer.grab();
  EXPECT_EQ(viewer.Rows()->rowCount(), 3000);
}

}  // namespace
