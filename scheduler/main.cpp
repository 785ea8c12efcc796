// ProgramMain: one instance per user, then the four windows in their order, then the loop.
#include <QApplication>
#include <QScreen>

#include <cstdlib>

#include "scheduler/core/displayplatform.h"

#include "platform/shell.h"
#include "platform/singleinstance.h"
#include "scheduler/ui/frenchqt.h"
#include "platform/stagedinstall.h"
#include "scheduler/ui/tabout.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/tform4.h"

int main(int argc, char** argv) {
  platform::InstanceLock instance;
  // Another instance runs: leave at once, no window, nothing written.
  if (instance.Acquire("Quillomet") == platform::LockResult::Busy) return 0;
  // An update a killed updater left halfway is finished (or undone) before the program runs.
  platform::FinishInterruptedInstall(platform::ProgramFolder());

  // Under Wayland, X11 when the session has it: the program places and raises its windows.
  const std::string platform = core::PreferredQtPlatform([](const char* name) { return std::getenv(name); });
  if (!platform.empty()) setenv("QT_QPA_PLATFORM", platform.c_str(), 1);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillomet"));
  ui::LoadQtFrench(app);
  // The program ends only through the close question (or from outside), not with its last window.
  QApplication::setQuitOnLastWindowClosed(false);

  ui::Form1 = new ui::TForm1;
  ui::AboutBox = new ui::TAboutBox;
  ui::Form2 = new ui::TForm2;
  ui::Form4 = new ui::TForm4;
  // Centred on the screen when first shown.
  for (QWidget* w : std::initializer_list<QWidget*>{ui::Form1, ui::AboutBox}) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect r = w->frameGeometry();
      r.moveCenter(screen->availableGeometry().center());
      w->move(r.topLeft());
    }
  }
  ui::Form1->show();
  app.exec();

  delete ui::Form4;
  delete ui::Form2;
  delete ui::AboutBox;
  delete ui::Form1;
  return 0;
}
