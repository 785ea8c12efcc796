// Start-up of the main window: first run against later run, the globals it sets.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>

#include "scheduler/core/startup.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;

fs::path DataFolderPath() { return testenv::testRoot() / "data" / "Quillomet"; }

void MarkLaterRun() { testenv::writeFile(DataFolderPath() / "serie.ini", "[Form1]\n"); }

TEST(Startup, FirstRunStaysVisibleWithFirstRunDefaults) {
  ui::TForm1 form;
  EXPECT_EQ(ui::DataFolder, DataFolderPath().string() + "/");
  EXPECT_FALSE(form.Timer2->isActive());
  EXPECT_FALSE(form.CheckBox_16->isChecked());
  EXPECT_EQ(form.SpinEdit_1->value(), 15);
  // The help was opened, then the editor shown: the navigation marks the editor.
  EXPECT_FALSE(form.JvTransparentButton2->autoGray());
  EXPECT_TRUE(form.JvTransparentButton8->autoGray());
}

TEST(Startup, LaterRunHidesAfterOneSecond) {
  MarkLaterRun();
  testenv::writeFile(DataFolderPath() / "quillo-vz.dat", "\n");
  ui::TForm1 form;
  ASSERT_TRUE(form.Timer2->isActive());
  EXPECT_EQ(form.Timer2->interval(), 1000);
  EXPECT_EQ(form.PageControl1->currentIndex(), 0);
  EXPECT_TRUE(form.JvTransparentButton3->autoGray() == false);
  form.show();
  QEventLoop loop;
  QTimer::singleShot(1500, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_FALSE(form.Timer2->isActive());
  // Without a notification area (offscreen) hiding becomes minimising, so the window stays reachable.
  EXPECT_TRUE(form.isHidden() || form.isMinimized());
}

TEST(Startup, RunFieldsThresholdDaysAndTimetableSize) {
  MarkLaterRun();
  testenv::writeFile(DataFolderPath() / "quillo-vz.dat", "\n5|0|0|0|0|0|0|0|0|/src|*.doc|/dst|1|0|\n");
  ui::TForm1 form;
  EXPECT_EQ(form.Edit3->text(), "/");
  EXPECT_EQ(form.Edit4->text(), "/");
  EXPECT_EQ(form.Edit2->text(), "*.*");
  for (QCheckBox* day : {form.CheckLundi, form.CheckMardi, form.CheckMercredi, form.CheckJeudi, form.CheckVendredi,
                         form.CheckSamedi, form.CheckDimanche})
    EXPECT_FALSE(day->isChecked()) << day->objectName().toStdString();
  EXPECT_EQ(ui::ScheduleFileSize, static_cast<std::int32_t>(fs::file_size(DataFolderPath() / "quillo-vz.dat")));
  EXPECT_EQ(ui::CopyThreshold, static_cast<std::uint64_t>(form.sup_a->value()) * 1048576u);
  // Taken once at start: a later change of the setting waits for the next start.
  const auto before = ui::CopyThreshold;
  form.sup_a->setValue(form.sup_a->value() == 4096 ? 6000 : 4096);
  EXPECT_EQ(ui::CopyThreshold, before);
}

TEST(Startup, LanguageNameSetAtStartAndKept) {
  MarkLaterRun();
  ui::TForm1 form;
  std::vector<std::string> args;
  for (const QString& a : QCoreApplication::arguments()) args.push_back(a.toStdString());
  // Set although the window never became active (it hides after one second).
  EXPECT_EQ(form.LanguageName, core::LanguageNameFrom(args));
  form.LanguageName = "FRENCH";
  form.FormActivate();
  EXPECT_EQ(form.LanguageName, "FRENCH");
}

TEST(Startup, DataFolderMadeWithItsParentsAndPrivate) {
  const fs::path deep = testenv::testRoot() / "not" / "yet" / "there";
  setenv("XDG_DATA_HOME", deep.c_str(), 1);
  ui::TForm1 form;
  EXPECT_EQ(ui::DataFolder, (deep / "Quillomet").string() + "/");
  struct stat st;
  ASSERT_EQ(stat(ui::DataFolder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Startup, NoDataHomeFallsBackToTheHomeNeverTheRoot) {
  unsetenv("XDG_DATA_HOME");
  const fs::path home = std::getenv("HOME");
  ui::TForm1 form;
  EXPECT_EQ(ui::DataFolder, (home / ".local" / "share" / "Quillomet").string() + "/");
  EXPECT_TRUE(fs::is_directory(ui::DataFolder));
  setenv("XDG_DATA_HOME", "relative/dir", 1);  // not absolute: ignored as the XDG rules say
  ui::TForm1 again;
  EXPECT_EQ(ui::DataFolder, (home / ".local" / "share" / "Quillomet").string() + "/");
}

}  // namespace
