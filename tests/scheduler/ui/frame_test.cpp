// The main window's frame: navigation greying, page buttons, hiding, the close question.
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <functional>

#include "scheduler/ui/balloonhint.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/modalbox.h"
#include "tests/support/testenv.h"
#include "tests/support/urlsink.h"

namespace {

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    // A later run: the first one opens the help and keeps Timer2 off.
    testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
    form = std::make_unique<ui::TForm1>();
  }
  // The navigation buttons in colour, by caption.
  QStringList Coloured() const {
    QStringList out;
    for (ui::TransparentButton* b : {form->JvTransparentButton3, form->JvTransparentButton2, form->JvTransparentButton4,
                                     form->JvTransparentButton1, form->JvTransparentButton5, form->JvTransparentButton6,
                                     form->JvTransparentButton7, form->JvTransparentButton8})
      if (!b->autoGray()) out << b->text();
    return out;
  }
  std::unique_ptr<ui::TForm1> form;
};

TEST_F(Frame, GreyingFollowsTheActivePage) {
  struct Case {
    int page;
    QStringList coloured;
  } cases[] = {
      {0, {"Historique"}}, {1, {"Programmer"}}, {9, {"Programmer"}}, {3, {"Liste"}}, {5, {"Réseaux"}},
      {8, {"Configurer"}}, {7, {"Fichiers"}},   {2, {}},             {4, {}},        {6, {}},
  };
  for (const auto& c : cases) {
    form->PageControl1->setCurrentIndex(c.page);
    form->Button36Click();
    EXPECT_EQ(Coloured(), c.coloured) << c.page;
  }
}

TEST_F(Frame, NavigationButtonsSwitchPagesAndMarkThemselves) {
  struct Case {
    QAbstractButton* button;
    int page;
  } cases[] = {{form->JvTransparentButton2, 1}, {form->JvTransparentButton4, 3}, {form->JvTransparentButton1, 5},
               {form->JvTransparentButton5, 8}, {form->JvTransparentButton6, 7}, {form->JvTransparentButton3, 0}};
  for (const auto& c : cases) {
    c.button->click();
    EXPECT_EQ(form->PageControl1->currentIndex(), c.page) << c.button->text().toStdString();
    EXPECT_EQ(Coloured(), QStringList{c.button->text()});
  }
  // "Programmer" unchecks the editor's overwrite box.
  form->CheckBox12->setChecked(true);
  form->JvTransparentButton2->click();
  EXPECT_FALSE(form->CheckBox12->isChecked());
}

TEST_F(Frame, HelpGreysTheOthersAndKeepsThePage) {
  form->JvTransparentButton4->click();
  form->JvTransparentButton8->click();
  EXPECT_EQ(form->PageControl1->currentIndex(), 3);
  EXPECT_EQ(Coloured(), QStringList{"Aide"});
}

TEST_F(Frame, EditorStepsAndCancel) {
  form->JvTransparentButton2->click();
  form->Button31Click();
  EXPECT_EQ(form->PageControl1->currentIndex(), 9);
  form->Button37->click();
  EXPECT_EQ(form->PageControl1->currentIndex(), 1);
  form->Button32->click();
  EXPECT_EQ(form->PageControl1->currentIndex(), 0);
  EXPECT_EQ(Coloured(), QStringList{"Historique"});
}

TEST_F(Frame, WheelOverTheSettingsScrollsTenPerNotch) {
  form->resize(800, 600);
  form->show();
  form->PageControl1->setCurrentIndex(8);
  QApplication::processEvents();
  QScrollBar* bar = form->ScrollBox3->verticalScrollBar();
  if (bar->maximum() < 30) GTEST_SKIP() << "the settings page fits without scrolling at this size";
  bar->setValue(0);
  auto wheel = [&](int dy) {
    QWheelEvent e(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(form->ScrollBox3->viewport(), &e);
  };
  wheel(-120);
  EXPECT_EQ(bar->value(), 10);
  wheel(-120);
  EXPECT_EQ(bar->value(), 20);
  wheel(120);
  EXPECT_EQ(bar->value(), 10);
}

TEST_F(Frame, HidingKeepsTheWindowReachable) {
  form->show();
  form->Button5Click();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    EXPECT_TRUE(form->isHidden());
  } else {
    // No notification area: minimised, not lost.
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
  }
  form->RxTrayIcon1Click();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());
}

// Hidden behind the icon, the window comes back when the notification area goes away, and
// only then.
TEST_F(Frame, ATrayThatGoesAwayWhileHiddenBringsTheWindowBack) {
  bool tray = true;
  form->TrayAvailable = [&] { return tray; };
  form->Timer2->stop();  // its own hide a second after start
  form->show();
  form->Button5Click();
  ASSERT_TRUE(form->isHidden());
  form->CheckTrayStillThere();
  EXPECT_TRUE(form->isHidden()) << "the icon is still there to bring it back";
  tray = false;
  // The watch runs by itself while hidden.
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (form->isVisible()) loop.quit();
  });
  poll.start(10);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());
  // Without a notification area, hiding minimises instead.
  form->Button5Click();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isMinimized());
}

TEST_F(Frame, QuitAnsweredNoHidesAndKeepsRunning) {
  const auto settings = testenv::testRoot() / "data" / "Quillomet" / "serie.ini";
  form->show();
  form->sup_a->setValue(4321);
  testenv::AnswerNextBox("Non");
  form->Button9Click();
  EXPECT_TRUE(form->isHidden() || form->isMinimized());
  // The settings were saved although the program goes on.
  EXPECT_NE(testenv::readFile(settings).find("sup_a=4321"), std::string::npos);
  // Answered yes, the program ends.
  int exits = 0;
  form->ExitProgram = [&] { ++exits; };
  testenv::AnswerNextBox("Oui");
  form->RxTrayIcon1Click();
  EXPECT_TRUE(form->close());
  EXPECT_EQ(exits, 1);
}

TEST_F(Frame, CloseQuestionText) {
  QString text;
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [poll, &text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll->stop();
    poll->deleteLater();
    text = box->text();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == "Non") b->click();
  });
  poll->start(10);
  ui::CloseAction action = ui::CloseAction::caFree;
  form->FormClose(action);
  EXPECT_EQ(action, ui::CloseAction::caNone);
  EXPECT_EQ(text, "Voulez-vous quitter Quillomet ?\n\nSi vous quittez maintenant, les sauvegardes ne pourront plus "
                  "s'effectuées");
}

TEST_F(Frame, BalloonHintsFollowTheirBox) {
  form->CheckBox_17->setChecked(true);
  EXPECT_TRUE(form->JvBalloonHint1->useBalloonAsApplicationHint());
  form->CheckBox_17->setChecked(false);
  EXPECT_FALSE(form->JvBalloonHint1->useBalloonAsApplicationHint());
}

}  // namespace

namespace {

// The help goes through the desktop's opener (help_test.cpp).
TEST_F(Frame, WebPageAndDataFolderOpenThroughTheDesktop) {
  auto& opened = testenv::Urls().opened;
  opened.clear();
  form->SiteWeb1Click();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0].scheme(), QStringLiteral("https"));
  form->Button16Click();
  ASSERT_EQ(opened.size(), 2);
  EXPECT_EQ(opened[1].toLocalFile().toStdString(), ui::DataFolder);
}

}  // namespace
