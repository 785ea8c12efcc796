// ProgramMain: one instance per user (a later start ends at once, silently), then the four
// windows in their order, then the loop.
#include <QApplication>
#include <QScreen>

#include <cstdlib>
#include <string>
#include <vector>

#include "scheduler/core/displayplatform.h"
#include "scheduler/core/startup.h"

#include "platform/files.h"
#include "platform/shell.h"
#include "platform/singleinstance.h"
#include "platform/specialfolders.h"
#include "platform/stagedinstall.h"
#include "scheduler/ui/frenchqt.h"
#include "scheduler/ui/tabout.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/tform4.h"

int main(int argc, char** argv) {
  // A start that finds either lock taken ends here with 0: no window, nothing written, and the
  // running instance is left alone. The runtime folder's lock keeps one instance per session;
  // the data folder's keeps a start with another runtime folder (or none) off the same data.
  platform::InstanceLock instance;
  if (instance.Acquire("Quillomet") == platform::LockResult::Busy) return 0;
  const std::string dataFolder = core::DataFolderIn(platform::SpecialFolderPath(platform::kCsidlAppData));
  platform::MakeDirs(dataFolder, 0700);  // an existing folder is left as it is
  platform::InstanceLock dataLock;
  if (dataLock.AcquireFile(dataFolder + "Quillomet.lock") == platform::LockResult::Busy) return 0;
  // An update a killed updater left halfway is finished (or undone) before the program runs.
  platform::FinishInterruptedInstall(platform::ProgramFolder());

  // Under Wayland, X11 when the session has it, so the program places and raises its windows;
  // asked of the application only, so what we start gets the user's own environment.
  std::vector<std::string> args = core::ApplicationArguments(
      std::vector<std::string>(argv, argv + argc),
      core::PreferredQtPlatform([](const char* name) { return std::getenv(name); }));
  std::vector<char*> qtArgv;
  for (std::string& a : args) qtArgv.push_back(a.data());
  qtArgv.push_back(nullptr);
  int qtArgc = static_cast<int>(args.size());  // both live as long as the application

  QApplication app(qtArgc, qtArgv.data());
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
