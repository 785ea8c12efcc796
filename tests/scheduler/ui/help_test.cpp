// "Aide": the desktop's opener first, our own window when the desktop cannot show the help.
#include <QApplication>
#include <QEventLoop>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "scheduler/ui/helpwindow.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/testenv.h"

namespace {

// No window test starts the desktop's opener: by default the help "opens" and nothing shows.
const bool kQuietOpener = [] {
  ui::HelpOpener() = QStringLiteral("true");
  return true;
}();

class Help : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
    form = std::make_unique<ui::TForm1>();
  }
  void TearDown() override { ui::HelpOpener() = QStringLiteral("true"); }

  // Runs "Aide" and waits until the opener has ended (or could not start).
  bool OpenHelp() {
    QEventLoop loop;
    bool byDesktop = false, settled = false;
    QObject::connect(form->Help, &ui::HelpLauncher::settled, &loop, [&](bool desktop) {
      byDesktop = desktop;
      settled = true;
      loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    form->JvTransparentButton8->click();
    if (!settled) loop.exec();
    EXPECT_TRUE(settled) << "the opener never ended";
    return byDesktop;
  }
  std::unique_ptr<ui::TForm1> form;
};

TEST_F(Help, TheDesktopGetsTheHelpFileAndNoWindowOfOursShows) {
  const auto seen = testenv::testRoot() / "opened.txt";
  const auto script = testenv::writeFile(testenv::testRoot() / "opener.sh",
                                         "#!/bin/sh\nprintf '%s' \"$1\" > '" + seen.string() + "'\n");
  ::chmod(script.c_str(), 0755);
  ui::HelpOpener() = QString::fromStdString(script.string());
  form->JvTransparentButton4->click();
  EXPECT_TRUE(OpenHelp());
  EXPECT_TRUE(QString::fromStdString(testenv::readFile(seen)).endsWith(QStringLiteral("/aide/index.html")));
  EXPECT_EQ(form->Help->window(), nullptr);
  EXPECT_EQ(form->PageControl1->currentIndex(), 3);
}

TEST_F(Help, AnOpenerThatFailsOrIsMissingLeavesTheHelpInOurOwnWindow) {
  for (const char* opener : {"false", "/nonexistent/xdg-open"}) {
    ui::HelpOpener() = QString::fromLatin1(opener);
    EXPECT_FALSE(OpenHelp()) << opener;
    QWidget* window = form->Help->window();
    ASSERT_NE(window, nullptr) << opener;
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Aide Quillomet"));
    EXPECT_TRUE(form->Help->browser()->source().toLocalFile().endsWith(QStringLiteral("/aide/index.html")));
    EXPECT_TRUE(form->Help->browser()->toPlainText().contains(QStringLiteral("Quillomet")));
    window->close();
  }
}

// A missing help file is not reported: no opener runs, no window or box of ours shows. A file
// that goes while a failing opener runs leaves nothing to show either.
TEST(HelpLauncher, AMissingHelpFileIsNotReported) {
  const auto ran = testenv::testRoot() / "ran.txt";
  const auto index = testenv::testRoot() / "aide" / "index.html";
  const auto opener = testenv::writeFile(testenv::testRoot() / "opener.sh",
                                         "#!/bin/sh\nprintf x >> '" + ran.string() + "'\nrm -f \"$1\"\nexit 1\n");
  ::chmod(opener.c_str(), 0755);
  ui::HelpOpener() = QString::fromStdString(opener.string());
  for (const bool presentAtFirst : {false, true}) {
    SCOPED_TRACE(presentAtFirst ? "removed while the opener runs" : "missing");
    if (presentAtFirst) testenv::writeFile(index, "<html>Quillomet</html>");
    QWidget owner;
    ui::HelpLauncher help(&owner);
    QEventLoop loop;
    bool settled = false, byDesktop = true;
    QObject::connect(&help, &ui::HelpLauncher::settled, &loop, [&](bool desktop) {
      settled = true;
      byDesktop = desktop;
      loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    const QWidgetList before = QApplication::topLevelWidgets();
    help.open(QString::fromStdString(index.string()));
    if (!settled) loop.exec();
    EXPECT_TRUE(settled);
    EXPECT_FALSE(byDesktop);
    EXPECT_EQ(help.window(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets())
      EXPECT_TRUE(before.contains(w) || !w->isVisible()) << w->metaObject()->className();
    EXPECT_EQ(std::filesystem::exists(ran), presentAtFirst) << "the opener runs only for a file that is there";
  }
  ui::HelpOpener() = QStringLiteral("true");
}

// The first run opens the help, then lands in the editor: the navigation marks the editor.
TEST(HelpAtFirstRun, TheNavigationMarksThePageShown) {
  ui::TForm1 form;
  EXPECT_EQ(form.PageControl1->currentIndex(), 1);
  EXPECT_FALSE(form.JvTransparentButton2->autoGray());
  for (ui::TransparentButton* b : {form.JvTransparentButton1, form.JvTransparentButton3, form.JvTransparentButton4,
                                   form.JvTransparentButton5, form.JvTransparentButton6, form.JvTransparentButton7,
                                   form.JvTransparentButton8})
    EXPECT_TRUE(b->autoGray()) << b->text().toStdString();
}

}  // namespace
