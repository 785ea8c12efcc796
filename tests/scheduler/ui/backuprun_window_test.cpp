// The run, history and log viewer handlers of the main window, driven through their controls.
#include <sys/stat.h>
#include <fcntl.h>

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "scheduler/core/alerts.h"
#include "scheduler/core/backuprun.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/fields.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/panelstatusbar.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/xpbar.h"
#include "tests/support/modalbox.h"
#include "tests/support/testenv.h"
#include "tests/support/usbvolume.h"

namespace {

namespace fs = std::filesystem;
using testenv::readFile;
using testenv::writeFile;

std::string S(const QString& s) { return s.toStdString(); }

// Columns 1 to 5 of a row of the log viewer.
std::vector<std::string> ViewerTexts(const ui::TForm2& viewer, int row) {
  std::vector<std::string> out;
  for (int c = 1; c < viewer.Rows()->columnCount(); ++c) out.push_back(S(viewer.Rows()->index(row, c).data().toString()));
  return out;
}

int ViewerImage(const ui::TForm2& viewer, int row) {
  return viewer.Rows()->index(row, 0).data(ui::ListImageRole).toInt();
}

std::vector<std::string> Texts(const QTreeWidgetItem* item) {
  std::vector<std::string> out;
  for (int c = 1; c < item->columnCount(); ++c) out.push_back(S(item->text(c)));
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

// Alerts that make no sound: no audio device is left playing when a test ends.
class SilentSound : public core::AlertSound {
 public:
  bool PlayFile(const std::string&) override { return true; }
  void Beep() override { ++beeps; }
  void Tone(int, int) override {}
  void PlayFailed() override {}
  int beeps = 0;
};

class RunWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
    form = std::make_unique<ui::TForm1>();
    form->Timer1->stop();
    form->Timer2->stop();
    form->Timer3->stop();
    form->Timer4->stop();
    // No alert mail (it would ask for the missing mail settings in a box) unless a test wants it.
    form->CheckBox_16->setChecked(false);
    auto sound = std::make_unique<SilentSound>();
    silent = sound.get();
    form->Sound = std::move(sound);
    src = testenv::makeDir("src");
    dst = testenv::makeDir("dst");
  }
  void Job(const fs::path& s, const fs::path& d, bool subfolders = true) {
    form->Edit3->setText(QString::fromStdString(s.string()));
    form->Edit4->setText(QString::fromStdString(d.string()));
    form->Edit2->setText("*.*");
    form->CheckBox1->setChecked(subfolders);
  }
  std::string TodayLog() {
    return readFile(ui::DataFolder + core::DateStamp(core::LocalTime(std::time(nullptr))) + ".log");
  }
  template <class F>
  QString WithBox(F body, QMessageBox::Icon* icon = nullptr) {
    return testenv::WithBox(body, icon);
  }

  std::unique_ptr<ui::TForm1> form;
  SilentSound* silent = nullptr;
  fs::path src, dst;
};

TEST_F(RunWindowTest, ARunFillsTheListsStatusBarAndLogThenClearsTheRunFields) {
  writeFile(src / "a.txt", "alpha");
  writeFile(src / "sub" / "b.txt", "beta");
  form->CheckBox_12->setChecked(true);
  Job(src, dst);
  form->Button1->click();

  EXPECT_EQ(readFile(dst / "a.txt"), "alpha");
  EXPECT_EQ(readFile(dst / "sub" / "b.txt"), "beta");
  ASSERT_EQ(form->ListView3->topLevelItemCount(), 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ui::ListImageOf(form->ListView3->topLevelItem(i)), 7);
  auto row = Texts(form->ListView3->topLevelItem(0));
  ASSERT_GE(row.size(), 3u);
  EXPECT_EQ(row[0], "1");

  ASSERT_EQ(form->ListView1->topLevelItemCount(), 1);
  auto* ended = form->ListView1->topLevelItem(0);
  EXPECT_EQ(ui::ListImageOf(ended), 0);
  auto texts = Texts(ended);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[1], src.string());
  EXPECT_EQ(texts[2], dst.string());
  EXPECT_EQ(texts[3], "*.*");
  EXPECT_EQ(texts[4], "oui");

  EXPECT_EQ(S(form->StatusBar1->panelText(0)), "Fichiers traités : 2");
  EXPECT_EQ(S(form->StatusBar1->panelText(1)), "Fichiers copiés : 2");
  EXPECT_EQ(S(form->StatusBar1->panelText(2)), "Répertoires scannés : 1");
  EXPECT_EQ(form->Edit12->text(), "true");
  EXPECT_TRUE(form->Edit3->text().isEmpty());
  EXPECT_TRUE(form->Edit4->text().isEmpty());
  EXPECT_TRUE(form->Edit2->text().isEmpty());
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_TRUE(form->Label5->text().isEmpty());
  EXPECT_FALSE(form->SpeedButton9->isEnabled());
  EXPECT_FALSE(form->Button29->isEnabled());
  EXPECT_FALSE(form->RunBusy());
  EXPECT_EQ(TodayLog(), core::RunLogLine(texts[0], src.string(), dst.string(), "*.*", true) + "\n");
}

TEST_F(RunWindowTest, GuardsShowTheirMessagesAndStartNothing) {
  writeFile(src / "a", "x");
  Job(src, src / "inner");
  // Refusals are warnings.
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  EXPECT_EQ(WithBox([&] { form->Button1->click(); }, &icon), form->Label44->text());
  EXPECT_EQ(icon, QMessageBox::Warning);
  Job(src, "/");
  icon = QMessageBox::NoIcon;
  EXPECT_EQ(WithBox([&] { form->Button1->click(); }, &icon), form->Label45->text());
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
  EXPECT_FALSE(fs::exists(src / "inner"));

  // While a run is marked under way, the dispatch button does nothing, the editor's says so.
  form->Edit12->setText("false");
  Job(src, dst);
  form->Button1->click();
  EXPECT_FALSE(fs::exists(dst / "a"));
  form->Edit13->setText(QString::fromStdString(src.string()));
  form->Edit14->setText(QString::fromStdString(dst.string()));
  EXPECT_EQ(S(WithBox([&] { form->Button11Click(); })), "une copie est en cours");
  EXPECT_FALSE(fs::exists(dst / "a"));

  // The editor's run takes the editor's job.
  form->Edit12->setText("true");
  form->Edit15->setText("*.*");
  form->Button11Click();
  EXPECT_EQ(readFile(dst / "a"), "x");
}

// A source folder the walker cannot read reaches the window like a failed file: a row in the
// last-run list, a history row and a log line. (Root reads every folder, so the walker's own
// report is given here as it gives it.)
TEST_F(RunWindowTest, AnUnreadableSourceFolderGivesItsRows) {
  writeFile(src / "locked" / "f", "x");
  form->CheckBox_12->setChecked(true);
  Job(src, dst);
  bool reported = false;
  form->ScruteDossier1.OnFichier = [&](core::TScruteDossier* w, const std::string&) {
    if (reported) return;
    reported = true;
    w->OnErreur(w, (src / "locked").string(), EACCES);
  };
  form->Button1->click();
  ASSERT_TRUE(reported);
  ASSERT_GE(form->ListView3->topLevelItemCount(), 1);
  auto* row = form->ListView3->topLevelItem(0);
  EXPECT_EQ(ui::ListImageOf(row), 6);
  const auto texts = Texts(row);
  EXPECT_NE(std::find(texts.begin(), texts.end(), (src / "locked").string()), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), std::to_string(EACCES)), texts.end());
  EXPECT_NE(TodayLog().find("Impossible de lire le répertoire"), std::string::npos);
}

TEST_F(RunWindowTest, EditorRunOfAUsbEntryMakesTheFolderOnTheVolume) {
  testenv::MountTable table;
  table.AddStick(17, dst.string(), "/dev/sdb1", "KEY", "0000-04D2");
  form->WatchMounts(table.roots);
  writeFile(src / "a", "x");
  form->Edit13->setText(QString::fromStdString(src.string()));
  form->Edit14->setText(QString::fromStdString(dst.string() + ":-Quillomet-KEY - 1234"));
  form->Edit15->setText("*.*");
  form->Button11Click();
  EXPECT_EQ(readFile(dst / src.filename() / "a"), "x");

  const struct {
    const char* name;
    std::function<std::string(const fs::path& volume)> target;  // prepares the case
    std::string after;  // what the error says after the folder
  } cases[] = {
      {"file-where-the-folder-goes",
       [&](const fs::path& v) {
         table.AddStick(33, v.string(), "/dev/sdc1", "KEY", "0000-0001");
         writeFile(v / src.filename(), "");
         return v.string() + ":-Quillomet-KEY - 1";
       },
       ""},
      {"not-mounted", [](const fs::path& v) { return v.string() + ":-Quillomet-KEY - 1"; },
       " : le volume USB n'est plus branché"},
      {"another-volume-mounted-there",
       [&](const fs::path& v) {
         table.AddStick(49, v.string(), "/dev/sdd1", "OTHER", "0000-0002");
         return v.string() + ":-Quillomet-KEY - 1";
       },
       " : le volume USB n'est plus branché"},
  };
  for (const auto& c : cases) {
    const fs::path volume = testenv::makeDir(c.name);
    form->Edit14->setText(QString::fromStdString(c.target(volume)));
    form->Button12Click();
    ui::Guarded([&] { form->Button11Click(); });
    ASSERT_EQ(form->ListView1->topLevelItemCount(), 1) << c.name;
    EXPECT_EQ(Texts(form->ListView1->topLevelItem(0))[1], "Impossible de créer " + (volume / src.filename()).string() + c.after)
        << c.name;
    EXPECT_EQ(fs::is_directory(volume / src.filename()), false) << c.name;
  }
}

TEST_F(RunWindowTest, MissingTargetGivesAnAlertRowAndLeavesTheRunFields) {
  form->CheckBox_12->setChecked(true);
  form->CheckBox_16->setChecked(true);
  Job(src, dst / "gone");
  // The mail settings are empty: the mail asks for them, the error text stays for a later try.
  EXPECT_TRUE(WithBox([&] { form->Button1->click(); }).startsWith("Vous devez indiquer"));
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 1);
  auto* row = form->ListView1->topLevelItem(0);
  EXPECT_EQ(ui::ListImageOf(row), 2);
  EXPECT_EQ(Texts(row)[2], "Cible non présente " + (dst / "gone").string());
  EXPECT_EQ(S(form->Edit20->text()), "Cible non présente " + (dst / "gone").string());
  EXPECT_EQ(silent->beeps, form->CheckBox_13->isChecked() ? 1 : 0);
  EXPECT_EQ(form->Edit12->text(), "true");
  EXPECT_EQ(S(form->Edit3->text()), src.string());
  EXPECT_NE(TodayLog().find(" Erreur;" + src.string() + ";Cible non présente  "), std::string::npos);
}

TEST_F(RunWindowTest, ExceptionHandlerLogsAddsARowAndNeverRecurses) {
  form->CheckBox_12->setChecked(true);
  form->Edit12->setText("false");
  form->Label5->setText("/src/current");
  ui::HandleException(std::runtime_error("boom"));
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 1);
  auto texts = Texts(form->ListView1->topLevelItem(0));
  EXPECT_EQ(ui::ListImageOf(form->ListView1->topLevelItem(0)), 2);
  EXPECT_EQ(texts[1], "boom");
  EXPECT_EQ(texts[2], "/src/current");
  EXPECT_EQ(form->Edit12->text(), "true");  // no walk runs
  EXPECT_EQ(TodayLog(), texts[0] + " Erreur F ;boom;/src/current;;;\n");

  // Its own log write failing (the data folder is gone, a file in its place) still adds the row.
  fs::remove_all(ui::DataFolder);
  writeFile(fs::path(ui::DataFolder).parent_path(), "not a folder");
  const std::string saved = ui::DataFolder;
  ui::HandleException(std::runtime_error("second"));
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 2);
  fs::remove(fs::path(saved).parent_path());
}

TEST_F(RunWindowTest, ExceptionDuringAWalkKeepsTheIdleMarkerFalse) {
  writeFile(src / "a", "x");
  writeFile(src / "b", "y");
  Job(src, dst);
  // A handler reached while the walk runs throws: the marker stays "false" during the walk.
  QString during;
  form->ScruteDossier1.Pump = [&] {
    if (!during.isEmpty()) return;
    ui::HandleException(std::runtime_error("inside"));
    during = form->Edit12->text();
  };
  form->ScruteDossier1.PumpInterval = std::chrono::milliseconds(0);
  form->BackupRun().Pump = form->ScruteDossier1.Pump;
  form->BackupRun().PumpInterval = std::chrono::milliseconds(0);
  form->Button1->click();
  EXPECT_EQ(during, "false");
  EXPECT_EQ(form->Edit12->text(), "true");
}

TEST_F(RunWindowTest, ViewerShowsALogSortedByTime) {
  ui::TForm2 viewer;
  ui::Form2 = &viewer;
  const std::string log = (testenv::makeDir("logs") / "20090305.log").string();
  writeFile(log, "10:00:01;/s;/d;*.*;oui;\n10:00:00 Erreur F ;/s/f;msg : /d/f;;;\r\n10:00:00;/s;/d;*.*;non;\n");
  ui::PickLogFile = [&](QWidget*, const QString&) { return QString::fromStdString(log); };
  form->Voirfichiersjournaux1Click();
  EXPECT_TRUE(viewer.isVisible());
  EXPECT_EQ(viewer.windowTitle(), "Historique du 05/03/2009");
  ASSERT_EQ(viewer.Rows()->rowCount(), 3);
  EXPECT_EQ(ViewerImage(viewer, 0), 1);
  EXPECT_EQ(ViewerImage(viewer, 1), 2);
  EXPECT_EQ(ViewerTexts(viewer, 1), (std::vector<std::string>{"10:00:00 Erreur F ", "/s/f", "msg : /d/f", "", ""}));

  // A click on "Heures" sorts by it; the selected row stays selected.
  viewer.Listview1->selectRow(0);
  viewer.Listview1->horizontalHeader()->sectionClicked(1);
  EXPECT_EQ(ui::HistorySortColumn, 1);
  EXPECT_EQ(ViewerTexts(viewer, 0)[0], "10:00:00");
  EXPECT_EQ(ViewerTexts(viewer, 1)[0], "10:00:00 Erreur F ");
  EXPECT_EQ(ViewerTexts(viewer, 2)[0], "10:00:01");
  EXPECT_EQ(viewer.Listview1->currentIndex().row(), 2);
  EXPECT_LT(viewer.Listview1Compare(viewer.Rows()->index(1, 0), viewer.Rows()->index(2, 0)), 0);

  // A file that cannot be read: the error reaches the handler, the list is emptied.
  viewer.hide();
  ui::PickLogFile = [](QWidget*, const QString&) { return QString("/nonexistent/20090306.log"); };
  form->Voirfichiersjournaux1->trigger();
  EXPECT_FALSE(viewer.isVisible());
  EXPECT_EQ(viewer.Rows()->rowCount(), 0);
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 1);  // the exception row
  ui::PickLogFile = [](QWidget*, const QString&) { return QString(); };
  ui::Form2 = nullptr;
}

// A planted FIFO or folder is refused without blocking; a log of many lines is shown whole.
TEST_F(RunWindowTest, ViewerRefusesWhatIsNotALogAndSaysWhatItLeavesOut) {
  ui::TForm2 viewer;
  ui::Form2 = &viewer;
  const std::filesystem::path logs = testenv::makeDir("logs");
  ASSERT_EQ(::mkfifo((logs / "20090301.log").c_str(), 0600), 0);
  std::filesystem::create_directory(logs / "20090302.log");
  std::string path;
  ui::PickLogFile = [&](QWidget*, const QString&) { return QString::fromStdString(path); };
  int rows = form->ListView1->topLevelItemCount();
  for (const char* name : {"20090301.log", "20090302.log"}) {
    SCOPED_TRACE(name);
    path = (logs / name).string();
    form->Voirfichiersjournaux1->trigger();
    EXPECT_FALSE(viewer.isVisible());
    ASSERT_EQ(form->ListView1->topLevelItemCount(), ++rows);
    EXPECT_EQ(S(form->ListView1->topLevelItem(rows - 1)->text(2)),
              "Impossible d'ouvrir le fichier journal " + path + " : ce n'est pas un fichier");
  }

  std::string many;
  for (int i = 0; i < 200000; ++i) many += "10:00:00 Erreur F ;/s/f" + std::to_string(i) + ";Accès refusé : /d/f;;;\n";
  many += std::string(20000, 'x') + "\n";
  path = writeFile((logs / "20090303.log").string(), many);
  form->Voirfichiersjournaux1Click();
  EXPECT_TRUE(viewer.isVisible());
  ASSERT_EQ(viewer.Rows()->rowCount(), 200001);
  EXPECT_EQ(ViewerTexts(viewer, 199999)[1], "/s/f199999");  // the newest lines are there
  EXPECT_EQ(ViewerTexts(viewer, 200000)[0].size(), 16384u);
  EXPECT_TRUE(viewer.Label1->isVisible());
  EXPECT_EQ(S(viewer.Label1->text()), "Les lignes trop longues sont affichées coupées.");

  path = writeFile((logs / "20090304.log").string(), "10:00:00;/s;/d;*.*;oui;\n");
  form->Voirfichiersjournaux1Click();
  EXPECT_EQ(viewer.Rows()->rowCount(), 1);
  EXPECT_FALSE(viewer.Label1->isVisible());
  ui::PickLogFile = [](QWidget*, const QString&) { return QString(); };
  ui::Form2 = nullptr;
}

TEST_F(RunWindowTest, PurgeAndClearButtons) {
  auto old = writeFile(ui::DataFolder + "20000101.log", "x");
  auto young = writeFile(ui::DataFolder + "20991231.log", "y");
  std::time_t t = std::time(nullptr) - 20 * 86400;
  struct timespec times[2] = {{t, 0}, {t, 0}};
  ::utimensat(AT_FDCWD, old.c_str(), times, 0);
  form->SpinEdit_1->setValue(15);
  form->CheckBox_15->setChecked(false);
  form->Button14->click();
  EXPECT_TRUE(fs::exists(old));
  form->CheckBox_15->setChecked(true);
  form->Button14->click();
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(young));

  form->AddHistoryRow(core::RunEndedRow("10:00:00", "/s", "/d", "*.*", true));
  form->Button12->click();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
}

TEST_F(RunWindowTest, ReadOnlyButtonsTouchOnlyAccessDeniedRows) {
  auto denied = writeFile(dst / "denied", "x");
  auto other = writeFile(dst / "other", "y");
  ::chmod(denied.c_str(), 0444);
  ::chmod(other.c_str(), 0444);
  for (auto [path, error] : {std::pair{denied, "13"}, std::pair{other, "28"}}) {
    auto* item = new QTreeWidgetItem(form->ListView3);
    item->setText(3, QString::fromStdString(path.string()));
    item->setText(5, error);
  }
  form->SpeedButton15->click();
  EXPECT_TRUE((fs::status(denied).permissions() & fs::perms::owner_write) != fs::perms::none);
  EXPECT_TRUE((fs::status(other).permissions() & fs::perms::owner_write) == fs::perms::none);
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  form->SpeedButton13->click();
  EXPECT_EQ(form->ListView3->topLevelItemCount(), 0);
}

// Quitting while a file is copied: the question says the copy stops; that copy is cut short
// (its temporary file goes), nothing more is copied, and the run's end says it was stopped.
TEST_F(RunWindowTest, QuitDuringACopyCutsItShortAndRecordsTheRunAsStopped) {
  for (int i = 0; i < 40; ++i) writeFile(src / ("f" + std::to_string(i) + ".txt"), std::string(4096, char('a' + i % 26)));
  form->CheckBox_12->setChecked(true);
  form->CheckBox_13->setChecked(true);
  Job(src, dst);
  int exits = 0;
  form->ExitProgram = [&exits] { ++exits; };
  // The user quits while the first file is copied (its name is shown), and answers "Oui".
  bool asked = false;
  QString question;
  form->BackupRun().Pump = [&] {
    if (asked || form->Label5->text().isEmpty()) return;
    asked = true;
    testenv::AnswerNextBox(QStringLiteral("Oui"), &question);
    form->close();
  };
  form->BackupRun().PumpInterval = std::chrono::milliseconds(0);
  form->Button1->click();

  ASSERT_TRUE(asked);
  EXPECT_EQ(question, "Voulez-vous quitter Quillomet ?\n\nSi vous quittez maintenant, les sauvegardes ne pourront plus "
                      "s'effectuées\n\nLa copie en cours sera arrêtée.");
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(form->ScruteDossier1.Running);
  EXPECT_FALSE(form->RunBusy());
  EXPECT_TRUE(fs::is_empty(dst));
  // The cut copy's row, then the run's end as stopped; a stop is no error: no alert.
  const std::string d = dst.string();
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 2);
  const QTreeWidgetItem* cut = form->ListView1->topLevelItem(0);
  EXPECT_EQ(ui::ListImageOf(cut), 5);
  EXPECT_EQ(Texts(cut)[2].rfind("Copie arrêtée : le programme a été quitté : " + d + "/f", 0), 0u) << Texts(cut)[2];
  const QTreeWidgetItem* end = form->ListView1->topLevelItem(1);
  EXPECT_EQ(ui::ListImageOf(end), 2);
  EXPECT_EQ(Texts(end)[2], "Sauvegarde arrêtée, 1 fichier non copié : " + d);
  EXPECT_EQ(silent->beeps, 0);
  EXPECT_NE(TodayLog().find(";" + src.string() + ";" + d + ";*.*;oui;\n"), std::string::npos) << TodayLog();
  EXPECT_NE(TodayLog().find(" Erreur F ;" + src.string() + ";Sauvegarde arrêtée, 1 fichier non copié : " + d + ";;;"),
            std::string::npos)
      << TodayLog();
  // Nothing starts any more while the program ends.
  Job(src, dst);
  form->Button1->click();
  EXPECT_TRUE(fs::is_empty(dst));
}

TEST_F(RunWindowTest, ListeCommandsStayOnAfterARunWhileARowIsSelected) {
  writeFile(fs::path(ui::DataFolder) / "quillo-vz.dat", "\n30|12|1|0|0|0|0|0|0|" + src.string() + "|*.*|" + dst.string() + "|1|0|\n");
  form->Button3Click();
  ASSERT_EQ(form->ListView2->topLevelItemCount(), 1);
  QWidget* commands[] = {form->SpeedButton4, form->SpeedButton5, form->SpeedButton6};
  form->ListView2->topLevelItem(0)->setSelected(true);  // a selection made by the program
  for (QWidget* w : commands) EXPECT_TRUE(w->isEnabled()) << S(w->objectName());

  writeFile(src / "a.txt", "alpha");
  Job(src, dst);
  form->Button1->click();
  ASSERT_TRUE(form->ListView2->topLevelItem(0)->isSelected());
  for (QWidget* w : commands) EXPECT_TRUE(w->isEnabled()) << S(w->objectName()) << " after the run";

  // A click on the row still selected works, whatever turned the commands off.
  for (QWidget* w : commands) w->setEnabled(false);
  emit form->ListView2->itemClicked(form->ListView2->topLevelItem(0), 1);
  for (QWidget* w : commands) EXPECT_TRUE(w->isEnabled()) << S(w->objectName()) << " after a click";
}

}  // namespace
