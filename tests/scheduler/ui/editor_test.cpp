// The timetable editor of the main window: summary, step buttons, save, presets and pickers.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/specialfolders.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/transparentbutton.h"
#include "scheduler/ui/xpbar.h"
#include "tests/support/testenv.h"

namespace fs = std::filesystem;

namespace {

fs::path DataFolderPath() { return testenv::testRoot() / "data" / "Quillomet"; }
fs::path SchedulePath() { return DataFolderPath() / "quillo-vz.dat"; }

// A later run with an empty timetable.
std::unique_ptr<ui::TForm1> MakeForm() {
  testenv::writeFile(DataFolderPath() / "serie.ini", "[Form1]\n");
  testenv::writeFile(SchedulePath(), "\n");
  return std::make_unique<ui::TForm1>();
}

// Runs `action`; a message box it opens is read and closed. Gives the box's text ("" when none).
template <class F>
std::string MessageOf(F action) {
  std::string text;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text().toStdString();
      box->accept();
    }
  });
  action();
  QCoreApplication::processEvents();
  return text;
}

void Fill(ui::TForm1& f, const std::string& source, const std::string& target, int hours, int minutes) {
  f.Edit13->setText(QString::fromStdString(source));
  f.Edit14->setText(QString::fromStdString(target));
  f.Spinheures->setValue(hours);
  f.SpinMinutes->setValue(minutes);
}

std::vector<ui::TransparentButton*> ColouredButtons(const ui::TForm1& f) {
  std::vector<ui::TransparentButton*> out;
  for (ui::TransparentButton* b : {f.JvTransparentButton1, f.JvTransparentButton2, f.JvTransparentButton3,
                                   f.JvTransparentButton4, f.JvTransparentButton5, f.JvTransparentButton6,
                                   f.JvTransparentButton7, f.JvTransparentButton8})
    if (!b->autoGray()) out.push_back(b);
  return out;
}

TEST(Editor, StepButtonFollowsSourceAndTarget) {
  auto f = MakeForm();
  f->JvTransparentButton2Click();
  EXPECT_EQ(f->PageControl1->currentIndex(), 1);
  EXPECT_FALSE(f->Button31->isEnabled());
  f->Edit14->setText("/srv/copie");
  f->Edit13->setText("/");
  EXPECT_TRUE(f->Button31->isEnabled());
  EXPECT_EQ(f->Button31->text(), "Suivant >");
  EXPECT_FALSE(f->JvXPBar3->isHidden());
  EXPECT_FALSE(f->JvXPBar5->isHidden());
  f->Edit13->clear();
  EXPECT_FALSE(f->Button31->isEnabled());
  EXPECT_TRUE(f->JvXPBar3->isHidden());
  EXPECT_TRUE(f->JvXPBar5->isHidden());
  f->Edit13->setText("d");
  EXPECT_TRUE(f->Button31->isEnabled());
  f->Button31->click();
  EXPECT_EQ(f->PageControl1->currentIndex(), 9);
  EXPECT_EQ(f->Label23->text(), "d/*.*");
  EXPECT_EQ(f->Label47->text(), "/srv/copie");
  f->Button37->click();
  EXPECT_EQ(f->PageControl1->currentIndex(), 1);
}

TEST(Editor, SummaryFollowsSpinsDaysAndPresets) {
  auto f = MakeForm();
  f->SpinMinutes->setValue(5);
  EXPECT_EQ(f->Label6->text(), "Programmation   tout(es) les  5 Minutes ");
  f->JvXPBar1Items3Click();  // Monday to Friday at 22:30
  EXPECT_EQ(f->Label48->text(), "Sauvegarde du Lundi au Vendredi à 22h30");
  EXPECT_EQ(f->Label6->text(),
            "Programmation  à  22 Heures et 30 Minutes,  le lundi,  le mardi,  le mercredi,  le jeudi,  le vendredi");
  EXPECT_FALSE(f->CheckSamedi->isChecked());
  f->JvXPBar1->item(4)->click();  // "Toutes les heures", through the side bar
  EXPECT_EQ(f->Spinheures->value(), 1);
  EXPECT_EQ(f->SpinMinutes->value(), 0);
  EXPECT_FALSE(f->CheckLundi->isChecked());
  EXPECT_EQ(f->Label6->text(), "Programmation   tout(es) les  1 Heures ");
  // Help entries set the days only.
  f->JvXPBar2Items1Click();
  for (QCheckBox* day : {f->CheckLundi, f->CheckMercredi, f->CheckDimanche}) EXPECT_TRUE(day->isChecked());
  EXPECT_EQ(f->Spinheures->value(), 1);
  EXPECT_TRUE(f->Label48->text().startsWith("Pour une sauvegarde Journalière.\n\n"));
  // Every quick folder in its order, and "Options USB".
  const char* folders[] = {"Carnet d'adresses", "Cookies", "Favoris", "Fichiers temporaires Internet  Explorer",
                           "Historique Internet Explorer", "Mes documents", "Ma musique", "Mes vidéos",
                           "Modèles Windows", "Polices de caractères", "Options USB"};
  ASSERT_EQ(f->JvXPBar4->itemCount(), 11);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(f->JvXPBar4->item(i)->text(), QString::fromUtf8(folders[i]));
  EXPECT_EQ(f->JvXPBar1->itemCount(), 7);
  EXPECT_TRUE(f->JvXPBar1->collapsed());
}

TEST(Editor, SaveAppendsTheLineAndShowsItLastInTheList) {
  auto f = MakeForm();
  Fill(*f, "C:\\\\Docs", "/srv/copie", 7, 5);
  f->CheckLundi->setChecked(true);
  f->CheckBox12->setChecked(true);
  f->PageControl1->setCurrentIndex(9);
  EXPECT_EQ(MessageOf([&] { f->SpeedButton3->click(); }), "");
  const std::string line = "5|7|1|0|0|0|0|0|0|C:\\Docs|*.*|/srv/copie|1|1|\n";
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + line);
  EXPECT_EQ(f->PageControl1->currentIndex(), 3);
  EXPECT_EQ(ColouredButtons(*f), std::vector<ui::TransparentButton*>{f->JvTransparentButton4});
  // Nothing is cleared: the same entry saved again is a second line, selected last.
  f->JvXPBar7->clicked();
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n" + line + line);
  ASSERT_EQ(f->ListView2->topLevelItemCount(), 2);
  EXPECT_TRUE(f->ListView2->topLevelItem(1)->isSelected());
  EXPECT_FALSE(f->ListView2->topLevelItem(0)->isSelected());
  EXPECT_EQ(f->ListView2->topLevelItem(1)->text(0), "002");
}

TEST(Editor, RefusedSavesWriteNothing) {
  auto f = MakeForm();
  const std::string same = "impossible de copier sur un même répertoire";
  struct {
    std::string source, target;
    int hours, minutes;
    std::string message;
  } cases[] = {
      {"/home/u/Docs", "/srv/copie", 0, 0,
       "L'intervale minimum de programmation est d'une minute.\nIndiquer 1 dans les minutes ou dans les heures"},
      {"/home/u/Docs", "/home/u/Docs", 1, 0, same},
      {"/home/u/Docs", "/home/u/Docs/sauve", 1, 0, same},
      {"", "/srv/copie", 0, 1, same},
      {"/home/u/a|b", "/srv/copie", 0, 1, "Un dossier ou un filtre contient un caractère interdit (« | » ou un saut de ligne)"},
  };
  for (const auto& c : cases) {
    Fill(*f, c.source, c.target, c.hours, c.minutes);
    f->CheckMardi->setChecked(true);  // a day does not make 00:00 an interval
    f->PageControl1->setCurrentIndex(9);
    EXPECT_EQ(MessageOf([&] { f->Button7Click(); }), c.message) << c.source << " -> " << c.target;
    EXPECT_EQ(f->PageControl1->currentIndex(), 9);
  }
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n");
}

TEST(Editor, ASaveThatCannotWriteTellsTheUserAndKeepsTheEntry) {
  auto f = MakeForm();
  f->Timer1->stop();  // its reload would report the unreadable timetable once more
  // The timetable's name now holds a folder: the append fails.
  fs::remove(SchedulePath());
  fs::create_directory(SchedulePath());
  f->CheckBox_16->setChecked(false);  // no mail alert with its own box
  Fill(*f, "/home/u/Docs", "/srv/copie", 0, 5);
  f->PageControl1->setCurrentIndex(9);
  const std::string message = MessageOf([&] { f->SpeedButton3->click(); });
  EXPECT_NE(message.find("La programmation n'a pas été enregistrée."), std::string::npos) << message;
  EXPECT_NE(message.find("quillo-vz.dat"), std::string::npos) << message;
  // Still on the time page with every field as typed; the failure is in the history too.
  EXPECT_EQ(f->PageControl1->currentIndex(), 9);
  EXPECT_EQ(f->Edit13->text(), "/home/u/Docs");
  EXPECT_EQ(f->SpinMinutes->value(), 5);
  EXPECT_EQ(f->ListView1->topLevelItemCount(), 1);
}

TEST(Editor, UsbTargetIsSavedFromTheFirstStep) {
  auto f = MakeForm();
  f->JvTransparentButton2Click();
  Fill(*f, "/home/u/Docs", "/media/u/KEY:-Quillomet-KEY - 123", 0, 0);
  f->CheckVendredi->setChecked(true);
  EXPECT_EQ(f->Button31->text(), "Enregistrer");
  EXPECT_TRUE(f->JvXPBar5->isHidden());
  EXPECT_FALSE(f->JvXPBar3->isHidden());
  EXPECT_EQ(MessageOf([&] { f->Button31->click(); }), "");
  EXPECT_EQ(testenv::readFile(SchedulePath()), "\n1|0|1|1|1|1|1|1|1|/home/u/Docs|*.*|/media/u/KEY:-Quillomet-KEY - 123|1|0|\n");
  EXPECT_EQ(f->PageControl1->currentIndex(), 3);
  // A normal target again: the button goes back to step two.
  f->Edit14->setText("/srv/copie");
  EXPECT_EQ(f->Button31->text(), "Suivant >");
  f->Button31->click();
  EXPECT_EQ(f->PageControl1->currentIndex(), 9);
}

TEST(Editor, PickersStartOnTheEditsAndKeepThemOnCancel) {
  auto f = MakeForm();
  struct Call {
    QString title;
    std::string start;
    bool newFolder;
  };
  std::vector<Call> calls;
  std::string answer;  // "" cancels
  f->ChooseFolder = [&](const QString& title, std::string& folder, bool newFolder) {
    calls.push_back({title, folder, newFolder});
    if (answer.empty()) return false;
    folder = answer;
    return true;
  };
  f->Edit13->setText("/home/u/typed");
  f->JvXPBar4->setCollapsed(true);
  f->SpeedButton2->click();
  EXPECT_EQ(f->Edit13->text(), "/home/u/typed");
  EXPECT_FALSE(f->JvXPBar4->collapsed());
  answer = "/srv/cible";
  f->SpeedButton1->click();
  EXPECT_EQ(f->Edit14->text(), "/srv/cible");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].title, "Choisissez le dossier source");
  EXPECT_EQ(calls[0].start, "/home/u/typed");
  EXPECT_FALSE(calls[0].newFolder);
  EXPECT_EQ(calls[1].title, "Choisissez le dossier cible");
  EXPECT_EQ(calls[1].start, "");
  EXPECT_TRUE(calls[1].newFolder);
}

// The captions "Vos répertoires" shows to the user.
QStringList ShownQuickFolders(const ui::TForm1& f) {
  QStringList out;
  for (int i = 0; i < f.JvXPBar4->itemCount(); ++i)
    if (f.JvXPBar4->item(i)->isVisibleTo(f.JvXPBar4)) out << f.JvXPBar4->item(i)->text();
  return out;
}

TEST(Editor, QuickFoldersShowWhatThisDesktopHas) {
  const fs::path home = testenv::testRoot() / "home";
  const fs::path data = testenv::testRoot() / "data";
  testenv::writeFile(home / ".config" / "user-dirs.dirs",
                     "XDG_TEMPLATES_DIR=\"$HOME/Modèles\"\nXDG_MUSIC_DIR=\"$HOME/Musique\"\n");
  for (const fs::path& dir : {home / "Documents", home / "Modèles", data / "fonts"}) fs::create_directories(dir);
  auto f = MakeForm();
  f->PageControl1->setCurrentIndex(1);
  EXPECT_EQ(ShownQuickFolders(*f),
            (QStringList{"Mes documents", QString::fromUtf8("Modèles Windows"), QString::fromUtf8("Polices de caractères"),
                         "Options USB"}));
  // The templates and fonts items are reachable and fill the source.
  f->JvXPBar4->item(8)->click();
  EXPECT_EQ(f->Edit13->text().toStdString(), (home / "Modèles").string());
  f->JvXPBar4->item(9)->click();
  EXPECT_EQ(f->Edit13->text().toStdString(), (data / "fonts").string());
  // A folder made meanwhile (the cache, the music) shows the next time the editor opens.
  fs::create_directories(home / ".cache");
  fs::create_directories(home / "Musique");
  f->PageControl1->setCurrentIndex(0);
  f->JvTransparentButton2->click();
  EXPECT_EQ(ShownQuickFolders(*f),
            (QStringList{"Fichiers temporaires Internet  Explorer", "Mes documents", "Ma musique",
                         QString::fromUtf8("Modèles Windows"), QString::fromUtf8("Polices de caractères"),
                         "Options USB"}));
}

TEST(Editor, QuickSourcesAndTheExamplesPage) {
  auto f = MakeForm();
  f->JvXPBar4->item(5)->click();  // "Mes documents"
  EXPECT_EQ(f->Edit13->text().toStdString(), platform::SpecialFolderPath(platform::kCsidlPersonal));
  EXPECT_FALSE(f->Edit13->text().isEmpty());
  f->JvXPBar4Items1Click();  // no cookie folder here: the source stays
  EXPECT_EQ(f->Edit13->text().toStdString(), platform::SpecialFolderPath(platform::kCsidlPersonal));
  f->JvXPBar4Items9Click();
  EXPECT_EQ(f->Edit13->text().toStdString(),
            platform::SpecialFolderPath(platform::kCsidlAppData) + "/Microsoft/Address Book");

  f->Edit14->setText("/srv/copie");
  f->CheckLundi->setChecked(true);
  f->Button10Click();
  EXPECT_EQ(f->PageControl1->currentIndex(), 2);
  EXPECT_FALSE(f->CheckLundi->isChecked());
  EXPECT_TRUE(f->Label23->text().startsWith("Sauvegarde de " + f->Edit13->text() + "/*.*"));
  EXPECT_EQ(f->Label47->text(), "Vers /srv/copie");
  f->Edit14->setText(f->Edit13->text());
  f->PageControl1->setCurrentIndex(1);
  EXPECT_EQ(MessageOf([&] { f->Button10Click(); }), "impossible de copier sur un même répertoire");
  EXPECT_EQ(f->PageControl1->currentIndex(), 1);
}

}  // namespace
