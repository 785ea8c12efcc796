// The schedule list of the main window: loading, reload test, deletion, row copy and sort.
#include <sys/resource.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "scheduler/ui/listitems.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;

namespace {

const std::string kMonday = "30|12|1|0|0|0|0|0|0|/home/u/Documents|*.*|/media/save|1|0|";
const std::string kEvery5 = "5|0|0|0|0|0|0|0|0|/home/u/Photos|*.jpg|/srv/copie|0|1|";
const std::string kNight = "0|2|1|1|1|1|1|0|0|/home/u/Mail|*.mbox|/srv/nuit|1|1|";

fs::path DataFolderPath() { return testenv::testRoot() / "data" / "Quillomet"; }
fs::path SchedulePath() { return DataFolderPath() / "quillo-vz.dat"; }

// A later run (settings present) with the given timetable bytes.
void Prepare(const std::string& timetable) {
  testenv::writeFile(DataFolderPath() / "serie.ini", "[Form1]\n");
  testenv::writeFile(SchedulePath(), timetable);
}

// The schedule list page, laid out and painted. The timers stop first: entries that fall due
// would start a run that, on a slow machine, waits on its alert box.
void ShowScheduleList(ui::TForm1& form) {
  for (QTimer* t : {form.Timer1, form.Timer2, form.Timer3, form.Timer4}) t->stop();
  form.PageControl1->setCurrentIndex(3);
  form.show();
  form.grab();
  QApplication::processEvents();
}

std::vector<std::string> Column(const QTreeWidget* view, int column) {
  std::vector<std::string> out;
  for (int i = 0; i < view->topLevelItemCount(); ++i) out.push_back(view->topLevelItem(i)->text(column).toStdString());
  return out;
}

using Texts = std::vector<std::string>;

// Collects what reaches the application-wide handler while alive.
struct CaughtErrors {
  std::vector<std::string> messages;
  CaughtErrors() {
    ui::SetExceptionHandler([this](const std::exception& e) { messages.push_back(e.what()); });
  }
  ~CaughtErrors() { ui::SetExceptionHandler({}); }
};

void PressKey(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

TEST(ScheduleList, FirstStartCreatesTheFileAndOpensTheEditor) {
  testenv::writeFile(DataFolderPath() / "serie.ini", "[Form1]\n");
  ui::TForm1 form;
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n");
  EXPECT_EQ(form.PageControl1->currentIndex(), 1);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.ListView2->topLevelItemCount(), 0);
  EXPECT_EQ(form.ScheduleLines.size(), 1u);
}

TEST(ScheduleList, UnreadableFileIsReportedAndStartUpGoesOn) {
  testenv::writeFile(DataFolderPath() / "serie.ini", "[Form1]\nCheckBox_16=0\n");  // no alert mail
  fs::create_directories(SchedulePath());  // a folder where the file should be
  ui::TForm1 form;
  EXPECT_TRUE(fs::is_directory(SchedulePath()));
  EXPECT_EQ(form.ListView2->topLevelItemCount(), 0);
  EXPECT_EQ(form.Edit3->text(), "/");  // the rest of start-up ran
  bool reported = false;
  for (int i = 0; i < form.ListView1->topLevelItemCount(); ++i) {
    for (int c = 0; c < form.ListView1->columnCount(); ++c)
      reported = reported || form.ListView1->topLevelItem(i)->text(c).contains("Impossible de lire");
  }
  EXPECT_TRUE(reported);
}

TEST(ScheduleList, RowsShowTheLinesWithGapsAndShortLines) {
  Prepare("\r\n" + kMonday + "\r\n\r\n5|7|\r\n" + kEvery5 + "\r\n");
  ui::TForm1 form;
  EXPECT_EQ(form.ScheduleLines.size(), 5u);  // every line, empty ones included
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"001", "003", "004"}));
  EXPECT_EQ(Column(form.ListView2, 1), (Texts{"12:30", "07:05", "00:05"}));
  EXPECT_EQ(Column(form.ListView2, 2), (Texts{"/home/u/Documents", "", "/home/u/Photos"}));
  EXPECT_EQ(Column(form.ListView2, 3), (Texts{"/media/save", "", "/srv/copie"}));
  EXPECT_EQ(Column(form.ListView2, 4), (Texts{"*.*", "", "*.jpg"}));
  EXPECT_EQ(Column(form.ListView2, 5), (Texts{"oui", "non", "non"}));
  EXPECT_EQ(Column(form.ListView2, 6), (Texts{"non", "non", "oui"}));
  EXPECT_EQ(form.ScheduleLines[3], "5|7|");
}

TEST(ScheduleList, ReloadWhenTheSizeOrTheModificationTimeChanges) {
  Prepare("\n" + kMonday + "\n");
  ui::TForm1 form;
  ASSERT_EQ(Column(form.ListView2, 5), (Texts{"oui"}));
  const auto before = fs::last_write_time(SchedulePath());

  // Untouched: the poll reads nothing (a row changed on screen stays as it is).
  form.ListView2->topLevelItem(0)->setText(5, "vu");
  form.Button3Click();
  EXPECT_EQ(Column(form.ListView2, 5), (Texts{"vu"}));

  // A hand edit that keeps the size (sub-folders 1 -> 0) is seen by its modification time.
  std::string same = "\n" + kMonday + "\n";
  same[same.size() - 5] = '0';
  testenv::writeFile(SchedulePath(), same);
  fs::last_write_time(SchedulePath(), before + std::chrono::seconds(60));
  form.Button3Click();
  EXPECT_EQ(Column(form.ListView2, 5), (Texts{"non"}));

  // A change of size with the time put back is seen too.
  testenv::writeFile(SchedulePath(), same + kEvery5 + "\n");
  fs::last_write_time(SchedulePath(), before + std::chrono::seconds(60));
  form.Button3Click();
  EXPECT_EQ(Column(form.ListView2, 5), (Texts{"non", "non"}));
  EXPECT_EQ(ui::ScheduleFileSize, static_cast<std::int32_t>(fs::file_size(SchedulePath())));
}

TEST(ScheduleList, DeleteRemovesTheLineOfTheSelectedRow) {
  Prepare("\n" + kMonday + "\n" + kEvery5 + "\n" + kNight + "\n");
  ui::TForm1 form;
  form.ListView2->topLevelItem(0)->setSelected(true);  // a click on row 001
  ASSERT_EQ(form.Edit10->text(), "1");
  form.ListView2->setCurrentItem(form.ListView2->topLevelItem(0));
  PressKey(form.ListView2, Qt::Key_Down);  // then the keyboard moves to 003
  PressKey(form.ListView2, Qt::Key_Down);
  ASSERT_TRUE(form.ListView2->topLevelItem(2)->isSelected());
  ASSERT_FALSE(form.ListView2->topLevelItem(0)->isSelected());

  form.SpeedButton4->click();
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + kMonday + "\n" + kEvery5 + "\n");
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"001", "002"}));

  // Nothing selected: nothing deleted.
  form.ListView2->clearSelection();
  form.Supprimer1->trigger();
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + kMonday + "\n" + kEvery5 + "\n");
}

TEST(ScheduleList, DeleteKeepsTheBytesOfTheOtherLines) {
  // An older file in a single-byte code page: "é" as the byte 0xE9.
  const std::string latin = "0|9|1|0|0|0|0|0|0|/home/u/R\xe9sum\xe9|*.*|/srv/cv|1|0|";
  Prepare("\n" + kMonday + "\n" + latin + "\n");
  ui::TForm1 form;
  EXPECT_EQ(form.ListView2->topLevelItem(1)->text(2), QString::fromUtf8("/home/u/Résumé"));
  EXPECT_EQ(form.ScheduleLines[2], latin);  // what the due-time timer reads
  form.ListView2->topLevelItem(0)->setSelected(true);
  form.Button8Click();
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + latin + "\n");
}

// Until the reload that follows a deletion, each row still shows its own line.
TEST(ScheduleList, RowsBelowADeletedLineKeepShowingTheirOwnLines) {
  Prepare("\n" + kMonday + "\n" + kEvery5 + "\n" + kNight + "\n");
  ui::TForm1 form;
  form.DeleteAt(1);
  EXPECT_EQ(form.ScheduleLines, (Texts{"", kEvery5, kNight}));
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"001", "002"}));
  EXPECT_EQ(Column(form.ListView2, 2), (Texts{"/home/u/Photos", "/home/u/Mail"}));
}

TEST(ScheduleList, DeletingAnEntryOnTheFirstLineEmptiesIt) {
  Prepare(kMonday + "\n" + kEvery5 + "\n");  // hand-edited: no empty first line
  ui::TForm1 form;
  ASSERT_EQ(Column(form.ListView2, 0), (Texts{"000", "001"}));
  form.ListView2->topLevelItem(0)->setSelected(true);
  form.Button8Click();
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + kEvery5 + "\n");
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"001"}));
}

TEST(ScheduleList, FailedSaveKeepsTheFileAndIsReported) {
  const std::string old = "\n" + kMonday + "\n" + kEvery5 + "\n" + kNight + "\n";
  Prepare(old);
  ui::TForm1 form;
  CaughtErrors errors;
  form.ListView2->topLevelItem(1)->setSelected(true);

  // Writes beyond 16 bytes fail (EFBIG): the temp file cannot take the new content.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  form.SpeedButton4->click();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(testenv::readFile(SchedulePath()), old);
  ASSERT_EQ(errors.messages.size(), 1u);
  EXPECT_NE(errors.messages[0].find("Impossible d'enregistrer"), std::string::npos) << errors.messages[0];
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"001", "002", "003"}));  // the row is shown again
  EXPECT_EQ(form.ScheduleLines.size(), 4u);
  for (const auto& e : fs::directory_iterator(DataFolderPath()))
    EXPECT_EQ(e.path().filename().string().rfind(".quillo", 0), std::string::npos) << e.path();
}

TEST(ScheduleList, RowClickFillsTheEditorAndEachBoxFollowsItsField) {
  Prepare("\n" + kMonday + "\n" + kEvery5 + "\n");
  ui::TForm1 form;
  form.ListView2->topLevelItem(0)->setSelected(true);
  EXPECT_TRUE(form.CheckBox9->isChecked());
  EXPECT_TRUE(form.CheckBox10->isChecked());
  EXPECT_TRUE(form.CheckBox2->isChecked());
  EXPECT_TRUE(form.SpeedButton5->isEnabled());

  form.ListView2->clearSelection();
  EXPECT_FALSE(form.SpeedButton5->isEnabled());
  form.ListView2->topLevelItem(1)->setSelected(true);  // an entry without sub-folders
  EXPECT_FALSE(form.CheckBox9->isChecked());
  EXPECT_FALSE(form.CheckBox10->isChecked());
  EXPECT_TRUE(form.CheckBox12->isChecked());
  EXPECT_FALSE(form.CheckBox2->isChecked());
  EXPECT_EQ(form.Edit10->text(), "2");
  EXPECT_EQ(form.Edit5->text(), "5");
  EXPECT_EQ(form.Edit6->text(), "0");

  form.SpeedButton5->click();  // copy of the row into the editor
  EXPECT_EQ(form.PageControl1->currentIndex(), 1);
  EXPECT_EQ(form.Edit13->text(), "/home/u/Photos");
  EXPECT_EQ(form.Edit14->text(), "/srv/copie");
  EXPECT_EQ(form.Edit15->text(), "*.jpg");
  EXPECT_FALSE(form.CheckBox10->isChecked());
}

TEST(ScheduleList, SortIsAscendingTextualAndEndsAtTheNextReload) {
  Prepare("\n" + kMonday + "\n" + kEvery5 + "\n" + kNight + "\n" +
          "1|1|0|0|0|0|0|0|0|/home/u/archives|*.*|/srv/a|1|0|\n");
  ui::TForm1 form;
  form.ListView2ColumnClick(1);
  EXPECT_EQ(Column(form.ListView2, 1), (Texts{"00:05", "01:01", "02:00", "12:30"}));
  form.ListView2ColumnClick(2);  // letter case ignored
  EXPECT_EQ(Column(form.ListView2, 2), (Texts{"/home/u/archives", "/home/u/Documents", "/home/u/Mail", "/home/u/Photos"}));
  form.ListView2ColumnClick(2);  // a second click sorts ascending again
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"004", "001", "003", "002"}));

  form.lirefiche(true);
  EXPECT_EQ(Column(form.ListView2, 0), (Texts{"001", "002", "003", "004"}));
}

// Rows share their list image: an image read anew for each row kept its own copy of the
// drawing, some kilobytes a row, hundreds of megabytes for a long timetable.
TEST(ScheduleList, RowsShareOneImage) {
  Prepare("\n" + kMonday + "\n" + kEvery5 + "\n" + kNight + "\n");
  ui::TForm1 form;
  ASSERT_EQ(form.ListView2->topLevelItemCount(), 3);
  const QIcon first = form.ListView2->topLevelItem(0)->icon(0);
  ASSERT_FALSE(first.isNull());
  for (int i = 1; i < 3; ++i) EXPECT_EQ(form.ListView2->topLevelItem(i)->icon(0).cacheKey(), first.cacheKey()) << i;
}

// A timetable of many lines takes memory near its size: its lines are kept once, and a row
// keeps nothing of its own (texts, tool tips and image are made from its line when shown).
TEST(ScheduleList, ALongTimetableTakesMemoryNearItsSize) {
  const int count = 100000;
  std::string bytes = "\n";
  for (int i = 0; i < count; ++i) bytes += kMonday + "\n";
  Prepare(bytes);
  testenv::resetPeakMemory();
  const long before = testenv::statusKiB("VmRSS");
  {
    ui::TForm1 form;
    ShowScheduleList(form);
    ASSERT_EQ(form.ListView2->topLevelItemCount(), count);
    for (const QListWidget* list : form.findChildren<QListWidget*>())  // no second copy of the lines
      EXPECT_EQ(list->count(), 0) << list->objectName().toStdString();
    for (int i : {0, count / 2, count - 1}) {
      const QTreeWidgetItem* row = form.ListView2->topLevelItem(i);
      EXPECT_EQ(row->columnCount(), 0) << "row " << i << " stores texts, tool tips or images of its own";
      EXPECT_EQ(row->text(0), QString::number(i + 1).rightJustified(3, '0'));
      EXPECT_EQ(row->text(2), "/home/u/Documents");
      EXPECT_EQ(row->toolTip(3), "/media/save");
      EXPECT_EQ(row->icon(0).cacheKey(), form.ListView2->topLevelItem(0)->icon(0).cacheKey());
    }
    // The number column holds the last row's number whole, not only the numbers of the rows shown.
    const QModelIndex last = form.ListView2->model()->index(count - 1, 0);
    EXPECT_GE(form.ListView2->header()->sectionSize(0), form.ListView2->sizeHintForIndex(last).width());
  }
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own bookkeeping hides the figure";
#endif
  const long grown = testenv::statusKiB("VmHWM") - before;
  if (before < 0 || grown <= 0) GTEST_SKIP() << "no peak memory figures here";
  // Rows that keep their texts and tool tips take above 2 KiB each.
  EXPECT_LT(grown, count) << grown << " KiB above the start for " << count << " rows";
}

// A timetable line of 20 MB (a hand-edited or damaged file) is loaded, shown and kept whole,
// within a small multiple of its size.
TEST(ScheduleList, AHugeLineTakesMemoryNearTheFileSize) {
  const std::size_t size = 20u << 20;
  const std::string huge = "1|0|0|0|0|0|0|0|0|/src/" + std::string(size, 'x') + "|*.*|/dst|1|0|";
  Prepare("\n" + huge + "\n" + kMonday + "\n");
  testenv::resetPeakMemory();
  const long before = testenv::statusKiB("VmRSS");
  {
    ui::TForm1 form;
    ShowScheduleList(form);
    ASSERT_EQ(form.ListView2->topLevelItemCount(), 2);
    const QString shown = form.ListView2->topLevelItem(0)->text(2);
    EXPECT_TRUE(shown.startsWith("/src/xxx"));
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8(ui::kCutMark)));
    EXPECT_LE(shown.size(), static_cast<qsizetype>(ui::kShownBytes + 1));
    EXPECT_EQ(form.ScheduleLines[1], huge);  // kept whole for the next save
    form.Button4Click();
  }
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + huge + "\n" + kMonday + "\n");
  const long grown = testenv::statusKiB("VmHWM") - before;
  if (before < 0 || grown <= 0) GTEST_SKIP() << "no peak memory figures here";
  EXPECT_LT(grown * 1024, static_cast<long>(8 * size)) << grown << " KiB above the start";
}

}  // namespace
