// ProgramMain: one instance per user (a later start brings it forward), then the four windows in
// their order, then the loop.
#include <QApplication>
#include <QScreen>

#include <chrono>
#include <cstdlib>
#include <string>

#include "scheduler/core/displayplatform.h"
#include "scheduler/core/startup.h"

#include "platform/files.h"
#include "platform/instancechannel.h"
#include "platform/shell.h"
#include "platform/singleinstance.h"
#include "platform/specialfolders.h"
#include "platform/stagedinstall.h"
#include "scheduler/ui/frenchqt.h"
#include "scheduler/ui/runninginstance.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tabout.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/tform4.h"

namespace {

// Under Wayland, X11 when the session has it: the program places and raises its windows.
void UsePreferredPlatform() {
  const std::string platform = core::PreferredQtPlatform([](const char* name) { return std::getenv(name); });
  if (!platform.empty()) setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
}

// The running instance cannot be reached: the user is told so; nothing else runs.
int TellNoAnswer(int argc, char** argv) {
  UsePreferredPlatform();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillomet"));
  ui::LoadQtFrench(app);
  ui::SayInstanceDoesNotAnswer();
  return 1;
}

// Another instance holds the lock: it shows its window and this start ends, writing nothing.
int BringForward(int argc, char** argv, const std::string& socketPath) {
  if (platform::AskToShow(socketPath, std::chrono::seconds(10)) == platform::AskResult::Shown) return 0;
  return TellNoAnswer(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  platform::InstanceLock instance;
  const platform::LockResult lock = instance.Acquire("Quillomet");
  const std::string socketPath = platform::InstanceSocketPath(instance.Path());
  if (lock == platform::LockResult::Busy) return BringForward(argc, argv, socketPath);
  // A start with another runtime folder (or none) may share the data folder: its own lock keeps
  // two instances off it; the one holding it cannot be reached from here.
  const std::string dataFolder = core::DataFolderIn(platform::SpecialFolderPath(platform::kCsidlAppData));
  platform::MakeDirs(dataFolder, 0700);
  platform::InstanceLock dataLock;
  if (dataLock.AcquireFile(dataFolder + "Quillomet.lock") == platform::LockResult::Busy) return TellNoAnswer(argc, argv);
  // Listening at once: a later start that comes while this one starts up waits for its answer.
  platform::InstanceChannel channel;
  if (lock == platform::LockResult::Acquired) channel.Listen(socketPath);
  // An update a killed updater left halfway is finished (or undone) before the program runs.
  platform::FinishInterruptedInstall(platform::ProgramFolder());

  UsePreferredPlatform();

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
  ui::ShowRequests requests(channel);
  QObject::connect(&requests, &ui::ShowRequests::showRequested, ui::Form1,
                   ui::Guard([] { ui::Form1->Affiche1Click(); }));
  app.exec();

  delete ui::Form4;
  delete ui::Form2;
  delete ui::AboutBox;
  delete ui::Form1;
  return 0;
}
