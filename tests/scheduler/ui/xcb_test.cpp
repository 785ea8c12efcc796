// The program on a real X display (Xvfb, the xcb platform): its windows come up and Qt's own
// dialogs speak French. The test starts Xvfb on a free display and runs itself there.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "scheduler/ui/frenchqt.h"
#include "scheduler/ui/tabout.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/tform4.h"
#include "tests/support/testenv.h"
#include "tests/support/xvfb.h"

namespace {

constexpr char kChild[] = "QUILLOMET_XCB_CHILD";

// In the child: the buttons of the file dialog that "Voir fichiers journaux" opens.
QStringList FileDialogButtons() {
  QStringList texts;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    poll.stop();
    for (auto* box : dialog->findChildren<QDialogButtonBox*>())
      for (QAbstractButton* b : box->buttons()) texts << b->text();
    dialog->reject();
  });
  poll.start(20);
  ui::Form1->Voirfichiersjournaux1Click();
  return texts;
}

// Runs the tests the filter names in a child of this program, on a fresh Xvfb display.
void RunOnXvfb(const QString& filter, int tests) {
  const QString xcb = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqxcb.so");
  if (!QFileInfo::exists(xcb)) GTEST_SKIP() << "no xcb platform plugin";
  if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) GTEST_SKIP() << "no Xvfb";
  testenv::Xvfb server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";

  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(server.display()));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QString::fromLatin1(kChild), QStringLiteral("1"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + filter});
  ASSERT_TRUE(child.waitForFinished(120000));
  const QString out = QString::fromLocal8Bit(child.readAll());
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << out.toStdString();
  EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("[  PASSED  ] %1 test").arg(tests))) << out.toStdString();
}

TEST(XcbDesktop, WindowsStartAndQtDialogsSpeakFrench) {
  if (std::getenv(kChild)) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ASSERT_TRUE(ui::LoadQtFrench(*qApp));
    testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
    auto form = std::make_unique<ui::TForm1>();
    ui::Form1 = form.get();
    form->Timer2->stop();
    ui::TAboutBox about;
    ui::TForm2 viewer;
    ui::TForm4 prompt;
    form->show();
    QApplication::processEvents();
    const QStringList buttons = FileDialogButtons();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Annuler"))) << buttons.join(',').toStdString();
    EXPECT_TRUE(buttons.contains(QStringLiteral("&Ouvrir")) || buttons.contains(QStringLiteral("Ouvrir")))
        << buttons.join(',').toStdString();
    ui::Form1 = nullptr;
    return;
  }
  RunOnXvfb(QStringLiteral("XcbDesktop.WindowsStartAndQtDialogsSpeakFrench"), 1);
}

// The editor's USB panel on a real display, where the window's size and place change later than
// asked: the window grows for the panel and stays on the screen.
TEST(XcbDesktop, UsbPanelOnARealDisplay) {
  if (std::getenv(kChild)) GTEST_SKIP() << "already on the display";
  RunOnXvfb(QStringLiteral("UsbWindow.EditorUsbPanel:UsbWindow.TheUsbPanelGrowsTheWindowByWhatItNeedsWithinTheWorkArea"), 2);
}

}  // namespace
