// Every page of the scheduler's windows shows its texts whole, at the scale the suite runs
// with (the suite runs this file once more with QT_SCALE_FACTOR=1.5).
#include <QApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QProcess>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "scheduler/core/history.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/panelstatusbar.h"
#include "scheduler/ui/tabout.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/tform4.h"
#include "tests/support/testenv.h"
#include "tests/support/textfit.h"

namespace {

const std::string kLong = "/home/marie-christine/Documents/Comptabilité/Exercice 2024/Factures fournisseurs";

// One view of a window, as a user reaches it.
struct Stop {
  std::string name;
  QWidget* window;
  std::function<void()> show;
};

class WindowFit : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto data = testenv::testRoot() / "data" / "Quillomet";
    testenv::writeFile(data / "serie.ini", "[Form1]\n");
    testenv::writeFile(data / "quillo-vz.dat",
                       "\n30|12|1|0|0|0|0|0|0|/home/marie/Documents|*.*|/media/marie/SAUVEGARDE|1|0|\n"
                       "5|0|0|0|0|0|0|0|0|" + kLong + "|*.odt;*.ods|/srv/copies/comptabilité/" + "2024|0|1|\n"
                       "0|22|1|1|1|1|1|0|0|/home/marie/Images|*.jpg|/mnt/nas/photos|1|1|\n");
    form = std::make_unique<ui::TForm1>();
    // No due-time, dispatch or midnight tick meddles with the views (a due entry would run).
    for (QTimer* t : {form->Timer1, form->Timer2, form->Timer3, form->Timer4}) t->stop();
    prompt = std::make_unique<ui::TForm4>();
    viewer = std::make_unique<ui::TForm2>();
    about = std::make_unique<ui::TAboutBox>();
    Fill();
  }

  void Fill() {
    form->AddHistoryRow(core::RunEndedRow("08:15:02", "/home/marie/Documents", "/media/marie/SAUVEGARDE", "*.*", true));
    form->AddHistoryRow(core::TargetMissingRow("09:00:00", kLong, "/media/marie/CLE USB"));
    for (int i = 0; i < 3; ++i) {
      auto* row = new QTreeWidgetItem(form->ListView3);
      ui::SetListImage(row, i == 2 ? 6 : 7);
      row->setText(1, QString::number(i + 1));
      row->setText(2, QString::fromStdString(kLong + "/facture-" + std::to_string(i) + ".pdf"));
      row->setText(3, QStringLiteral("/srv/copies/comptabilité/2024/facture-%1.pdf").arg(i));
      row->setText(4, i == 2 ? QStringLiteral("Permission non accordée") : QString());
      row->setText(5, i == 2 ? QStringLiteral("13") : QString());
    }
    form->ListBox2->addItem(QStringLiteral("bureau-marie|marie|secret|"));
    form->Label5->setText(QString::fromStdString(kLong + "/facture-2.pdf"));
    form->StatusBar1->setPanelText(0, QStringLiteral("Fichiers copiés : 1250"));
    form->StatusBar1->setPanelText(1, QStringLiteral("Fichiers non copiés : 3"));
    form->StatusBar1->setPanelText(2, QStringLiteral("Fichiers analysés : 48213"));
    form->Edit13->setText(QString::fromStdString(kLong));
    form->Edit14->setText(QStringLiteral("/media/marie/SAUVEGARDE"));
    form->Spinheures->setValue(12);
    form->SpinMinutes->setValue(30);
    for (QCheckBox* day : {form->CheckLundi, form->CheckMardi, form->CheckMercredi, form->CheckJeudi,
                           form->CheckVendredi, form->CheckSamedi, form->CheckDimanche})
      day->setChecked(true);
    form->JvXPBar1->setCollapsed(false);
    form->JvXPBar1Items2Click();

    prompt->Label3->setText(QStringLiteral("/media/marie/SAUVEGARDE/Documents"));
    prompt->Label7->setText(QStringLiteral("Fichiers copiés : 1250"));
    prompt->Label8->setText(QStringLiteral("Fichiers analysés : 48213"));
    prompt->Label5->setText(QStringLiteral("facture-2.pdf"));
    prompt->Label6->setText(QStringLiteral("Permission non accordée"));

    const auto log = testenv::writeFile(testenv::testRoot() / "20240315.log",
                                        "08:15:02;/home/marie/Documents;/media/marie/SAUVEGARDE;*.*;oui;\n"
                                        "09:00:00 Erreur;" + kLong + ";Cible non présente  /media/marie/CLE USB;;;\n"
                                        "09:00:05 Erreur F ;" + kLong + ";Permission non accordée : /srv/copies/a.pdf;;;\n");
    viewer->ShowLog(log.string());
    viewer->hide();
  }

  std::vector<Stop> Stops() {
    std::vector<Stop> stops;
    const char* pages[] = {"historique", "programmation", "programmation-repetitive", "liste", "compteurs",
                           "reseaux", "textes", "fichiers", "configuration", "planification"};
    for (int page = 0; page < 10; ++page)
      stops.push_back({"Form1-" + std::string(pages[page]), form.get(), [this, page] {
                         form->PageControl1->setCurrentIndex(page);
                         form->Button36Click();
                       }});
    stops.push_back({"Form1-programmation-usb", form.get(), [this] {
                       form->PageControl1->setCurrentIndex(1);
                       form->Button36Click();
                       form->Panel2->show();
                       form->Image10->hide();
                     }});
    stops.push_back({"Form1-configuration-bas", form.get(), [this] {
                       form->Panel2->hide();
                       form->Image10->show();
                       form->PageControl1->setCurrentIndex(8);
                       form->Button36Click();
                       form->ScrollBox3->ensureWidgetVisible(form->SpinEdit_1);
                     }});
    stops.push_back({"Form2", viewer.get(), [] {}});
    stops.push_back({"Form4", prompt.get(), [this] { prompt->Button3->setEnabled(true); }});
    stops.push_back({"AboutBox", about.get(), [] {}});
    return stops;
  }

  static void Settle(QWidget* window) {
    window->show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  std::unique_ptr<ui::TForm1> form;
  std::unique_ptr<ui::TForm4> prompt;
  std::unique_ptr<ui::TForm2> viewer;
  std::unique_ptr<ui::TAboutBox> about;
};

TEST_F(WindowFit, EveryPageShowsItsTextsWhole) {
  for (const Stop& stop : Stops()) {
    stop.show();
    Settle(stop.window);
    const QStringList clipped = testenv::ClippedTexts(stop.window);
    EXPECT_TRUE(clipped.isEmpty()) << stop.name << " at scale " << qApp->devicePixelRatio() << ":\n"
                                   << clipped.join(QLatin1Char('\n')).toStdString();
  }
}

TEST_F(WindowFit, MaximisedListsGiveTheirRoomToThePathsAndTellTheWholeText) {
  form->showMaximized();
  form->resize(1280, 860);
  form->PageControl1->setCurrentIndex(3);
  Settle(form.get());
  QHeaderView* header = form->ListView2->header();
  int used = 0;
  for (int c = 0; c < header->count(); ++c) used += header->sectionSize(c);
  // No wide empty column: the columns fill the list and the paths get what is left.
  EXPECT_LE(used, form->ListView2->viewport()->width());
  EXPECT_GE(used, form->ListView2->viewport()->width() - 2);
  EXPECT_GT(header->sectionSize(2), header->sectionSize(6));

  // A narrow window elides long paths in the middle and gives the whole path as tool tip.
  form->showNormal();
  form->resize(form->minimumSize());
  Settle(form.get());
  EXPECT_EQ(form->ListView2->textElideMode(), Qt::ElideMiddle);
  const QTreeWidgetItem* row = form->ListView2->topLevelItem(1);
  EXPECT_EQ(row->toolTip(2), QString::fromStdString(kLong));
  EXPECT_TRUE(testenv::ClippedTexts(form.get()).isEmpty());
}

TEST_F(WindowFit, AHugeFieldOutsideThePathsLeavesEveryColumnInTheList) {
  // A hand-edited line whose time fields hold thousands of characters.
  const auto file = testenv::testRoot() / "data" / "Quillomet" / "quillo-vz.dat";
  testenv::writeFile(file, "\n30|12|1|0|0|0|0|0|0|/home/marie/Documents|*.*|/media/marie/SAUVEGARDE|1|0|\n" +
                               std::string(5000, 'x') + "|\n" + std::string(3000, '7') + "|" +
                               std::string(3000, '8') + "|0|0|0|0|0|0|0|/a|" + std::string(4000, '*') + "|/b|1|1|\n");
  form->Button3Click();
  form->PageControl1->setCurrentIndex(3);
  Settle(form.get());
  ASSERT_EQ(form->ListView2->topLevelItemCount(), 3);
  QHeaderView* header = form->ListView2->header();
  int used = 0;
  for (int c = 0; c < header->count(); ++c) {
    EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << "column " << c;
    used += header->sectionSize(c);
  }
  EXPECT_LE(used, form->ListView2->viewport()->width());
  EXPECT_EQ(form->ListView2->topLevelItem(1)->toolTip(1).size(), form->ListView2->topLevelItem(1)->text(1).size());
}

// Not run by the suite: lays every view on the screen and photographs it (a developer's look
// under Xvfb: QT_QPA_PLATFORM=xcb DISPLAY=:N, QUILLOMET_SHOTS=folder, --gtest_also_run_disabled_tests).
TEST_F(WindowFit, DISABLED_Screenshots) {
  const char* folder = std::getenv("QUILLOMET_SHOTS");
  if (!folder) GTEST_SKIP() << "QUILLOMET_SHOTS names no folder";
  int n = 0;
  for (const Stop& stop : Stops()) {
    for (QWidget* w : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(viewer.get()),
                       static_cast<QWidget*>(prompt.get()), static_cast<QWidget*>(about.get())})
      if (w != stop.window) w->hide();
    stop.show();
    Settle(stop.window);
    stop.window->raise();
    stop.window->activateWindow();
    QEventLoop wait;
    QTimer::singleShot(400, &wait, &QEventLoop::quit);
    wait.exec();
    const QString file = QStringLiteral("%1/%2-%3.png").arg(folder).arg(++n, 2, 10, QLatin1Char('0')).arg(QString::fromStdString(stop.name));
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
  }
}

}  // namespace

namespace {

// An error row whose long text lands in a narrow column (a missing source puts its target under
// "Filtre"): that column is elided, the paths of the other rows stay whole.
TEST_F(WindowFit, ALongTextInANarrowColumnLeavesThePathsWhole) {
  form->ListView1->clear();
  // The font of a usual desktop, wider than the one of the test platform.
  QFont font = form->ListView1->font();
  font.setPointSizeF(font.pointSizeF() * 1.4);
  form->ListView1->setFont(font);
  const QString source = QStringLiteral("/tmp/travail/Documents"), target = QStringLiteral("/tmp/copie/Documents");
  for (int i = 0; i < 5; ++i)
    form->AddHistoryRow(core::RunEndedRow("08:15:02", source.toStdString(), target.toStdString(), "*.*", true));
  const std::string far = "/media/marie/Disque de sauvegarde externe/Copies de la comptabilité/Exercice 2024/"
                          "Factures fournisseurs et clients";
  form->AddHistoryRow(core::SourceMissingRow("09:00:00", source.toStdString(), far));
  form->AddHistoryRow(core::ExceptionRow("09:00:05", std::string(40, 'e'), source.toStdString()));
  form->resize(form->minimumSize());
  form->PageControl1->setCurrentIndex(0);
  Settle(form.get());
  QTreeWidget* list = form->ListView1;
  QHeaderView* header = list->header();
  const QFontMetrics metrics(list->font());
  EXPECT_GE(header->sectionSize(2), metrics.horizontalAdvance(source));
  EXPECT_GE(header->sectionSize(3), metrics.horizontalAdvance(target));
  int used = 0;
  for (int c = 0; c < header->count(); ++c) {
    EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << "column " << c;
    used += header->sectionSize(c);
  }
  EXPECT_LE(used, list->viewport()->width());
  const QTreeWidgetItem* error = list->topLevelItem(5);
  EXPECT_LT(header->sectionSize(4), metrics.horizontalAdvance(QString::fromStdString(far)));
  EXPECT_EQ(error->toolTip(4), QString::fromStdString(far));
}

}  // namespace
