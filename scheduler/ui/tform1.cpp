#include "scheduler/ui/tform1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include "platform/files.h"
#include "platform/priority.h"
#include "platform/shell.h"
#include "platform/specialfolders.h"
#include "platform/volumes.h"
#include "scheduler/core/alerts.h"
#include "scheduler/core/backuprun.h"
#include "scheduler/core/startup.h"
#include "scheduler/core/workingset.h"
#include "scheduler/ui/balloonhint.h"
#include "scheduler/ui/components.h"
#include "scheduler/ui/helpwindow.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tabout.h"
#include "scheduler/ui/trayicon.h"

namespace ui {

std::string DataFolder;
std::uint64_t CopyThreshold = 0;
std::int32_t ScheduleFileSize = 0;
std::int64_t ScheduleFileTime = 0;
TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  // exit() rather than quit(): quit() would close the windows and ask again.
  ExitProgram = [] { QCoreApplication::exit(0); };
  TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  setupUi(this);
  createComponents();
  registry_ = ComponentRegistry::Collect(this);
  // The settings store restores the controls before the creation handler runs; the handlers
  // are bound afterwards, so the restore itself fires none of them.
  Guarded([this] { RestoreSettings(); });
  connectFrame();
  connectTimetable();
  connectRun();
  connectQueue();
  connectHistory();
  connectSettings();
  connectNetwork();
  connectAlerts();
  connectEditor();
  connectCaptions();
  connectUsb();
  Timer1->start();
  Timer2->start();
  Timer3->start();
  Timer4->start();
  Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  Guarded([this] { FormDestroy(); });
  ListView2->clear();  // its rows read ScheduleLines, which goes before the widgets
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::createComponents() {
  Timer1 = MakeTimer(this, "Timer1", 1000);
  Timer2 = MakeTimer(this, "Timer2", 1000);
  Timer3 = MakeTimer(this, "Timer3", 6000);
  Timer4 = MakeTimer(this, "Timer4", 60000);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  Affiche1 = AddMenuItem(PopupMenu1, "Affiche1", QStringLiteral("Afficher"));
  Rduire1 = AddMenuItem(PopupMenu1, "Rduire1", QStringLiteral("Réduire"));
  N2 = PopupMenu1->addSeparator();
  N2->setObjectName(QStringLiteral("N2"));
  N1 = AddMenuItem(PopupMenu1, "N1", QStringLiteral("Quitter"));

  RxTrayIcon1 = new TrayIcon(this);
  RxTrayIcon1->setObjectName(QStringLiteral("RxTrayIcon1"));
  RxTrayIcon1->setHint(QStringLiteral("Quillomet"));
  RxTrayIcon1->setContextMenu(PopupMenu1);
  // Shown whatever the desktop has now: Qt docks it as soon as a notification area appears.
  RxTrayIcon1->show();

  Help = new HelpLauncher(this);
  Help->setObjectName(QStringLiteral("Help"));

  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
  Supprimer1 = AddMenuItem(PopupMenu2, "Supprimer1", QStringLiteral("Supprimer"));
  Copiedeligne1 = AddMenuItem(PopupMenu2, "Copiedeligne1", QStringLiteral("Copie de ligne"));
  esterlasauvegarde1 = AddMenuItem(PopupMenu2, "esterlasauvegarde1", QStringLiteral("Tester la sauvegarde"));
  ListView2->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListView2, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu2->popup(ListView2->viewport()->mapToGlobal(pos)); });

  JvBalloonHint1 = new BalloonHint(this);
  JvBalloonHint1->setObjectName(QStringLiteral("JvBalloonHint1"));

  // Walkers as the form describes them; each Part binds its events in its connect function.
  ScruteDossier1.Dossier = "/";
  ScruteDossier1.Filtre = "*.*";
  ScruteDossier1.SousDossier = true;
  ScruteDossier1.MaxPenetration = -1;
  ScruteDossier2.Dossier = "/";
  ScruteDossier2.Filtre = "*.log";
  ScruteDossier2.SousDossier = false;
  ScruteDossier2.MaxPenetration = 10000;
  ScruteDossier1.Pump = ScruteDossier2.Pump = [] { QCoreApplication::processEvents(); };

  ComboBox_1->setEditText(QStringLiteral("Choisir votre clé USB, disque USB ect...."));
  ListView2->setSelectionMode(QAbstractItemView::ExtendedSelection);
  PageControl1->tabBar()->hide();
  PageControl1->setCurrentIndex(0);
  JvTransparentButton3->setAutoGray(false);
  StatusBar1->setSizeGripEnabled(false);
  ScrollBox3->viewport()->installEventFilter(this);
  applyLook();
}

// ---------------------------------------------------------------- start-up

void TForm1::FormCreate() {
  platform::SetIdlePriority();
  DataFolder = core::DataFolderIn(platform::SpecialFolderPath(platform::kCsidlAppData));
  platform::MakeDirs(DataFolder, 0700);
  core::NarrowDataFolderModes(DataFolder);
  if (core::IsFirstRun(DataFolder)) {
    Button15Click();
    Timer2->stop();
    CheckBox_16->setChecked(false);
    SpinEdit_1->setValue(15);
  }
  lirefiche(true);
  CopyThreshold = core::CopyThresholdOf(sup_a->value());
  Edit2->setText(QString::fromStdString(ScruteDossier1.Filtre));
  Edit3->setText(QStringLiteral("/"));
  Edit4->setText(QStringLiteral("/"));
  // The target group keeps its height without the USB panel (hidden, so it takes no room).
  Button14Click();
  Button24Click();
  for (QCheckBox* day : {CheckDimanche, CheckLundi, CheckMardi, CheckMercredi, CheckJeudi, CheckVendredi, CheckSamedi})
    day->setChecked(false);
  ScheduleFileSize = platform::FileSizeOf(DataFolder + "quillo-vz.dat");
  ScheduleFileTime = ScheduleFileTimeNow();
  JvBalloonHint1->setUseBalloonAsApplicationHint(CheckBox_17->isChecked());
  // A window hidden after one second may never become active: take the language now.
  FormActivate();
}

void TForm1::FormActivate() {
  if (!LanguageName.empty()) return;
  std::vector<std::string> args;
  for (const QString& a : QCoreApplication::arguments()) args.push_back(a.toStdString());
  LanguageName = core::LanguageNameFrom(args);
}

void TForm1::Timer2Timer() {
  Button5Click();
  Timer2->stop();
}

// ---------------------------------------------------------------- frame

void TForm1::connectFrame() {
  bind(Timer2, &QTimer::timeout, &TForm1::Timer2Timer);
  trayWatch_ = new QTimer(this);
  trayWatch_->setInterval(2000);
  bind(trayWatch_, &QTimer::timeout, &TForm1::CheckTrayStillThere);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button5, SpeedButton8, Button33})
    bind(b, &QAbstractButton::clicked, &TForm1::Button5Click);
  bind(Rduire2, &QAction::triggered, &TForm1::Button5Click);
  bind(Affiche1, &QAction::triggered, &TForm1::Affiche1Click);
  bind(RxTrayIcon1, &TrayIcon::clicked, &TForm1::RxTrayIcon1Click);
  bind(Rduire1, &QAction::triggered, &TForm1::Rduire1Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button9, SpeedButton10})
    bind(b, &QAbstractButton::clicked, &TForm1::Button9Click);
  bind(N1, &QAction::triggered, &TForm1::Button9Click);
  bind(Quitter1, &QAction::triggered, &TForm1::Button9Click);
  bind(JvTransparentButton1, &QAbstractButton::clicked, &TForm1::JvTransparentButton1Click);
  bind(JvTransparentButton2, &QAbstractButton::clicked, &TForm1::JvTransparentButton2Click);
  bind(JvTransparentButton3, &QAbstractButton::clicked, &TForm1::JvTransparentButton3Click);
  bind(JvTransparentButton4, &QAbstractButton::clicked, &TForm1::JvTransparentButton4Click);
  bind(JvTransparentButton5, &QAbstractButton::clicked, &TForm1::JvTransparentButton5Click);
  bind(JvTransparentButton6, &QAbstractButton::clicked, &TForm1::JvTransparentButton6Click);
  bind(JvTransparentButton7, &QAbstractButton::clicked, &TForm1::JvTransparentButton7Click);
  bind(JvXPBar5, &XPBar::clicked, &TForm1::Button31Click);
  bind(Button37, &QAbstractButton::clicked, &TForm1::Button37Click);
  bind(Button32, &QAbstractButton::clicked, &TForm1::Button32Click);
  bind(Button36, &QAbstractButton::clicked, &TForm1::Button36Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button15, SpeedButton11, JvTransparentButton8})
    bind(b, &QAbstractButton::clicked, &TForm1::Button15Click);
  bind(Aide1, &QAction::triggered, &TForm1::Button15Click);
  bind(Button16, &QAbstractButton::clicked, &TForm1::Button16Click);
  bind(OuvrirledossierQuillomet1, &QAction::triggered, &TForm1::Button16Click);
  bind(Misejour1, &QAction::triggered, &TForm1::Misejour1Click);
  bind(SiteWeb1, &QAction::triggered, &TForm1::SiteWeb1Click);
  bind(propos1, &QAction::triggered, &TForm1::propos1Click);
  bind(CheckBox_17, &QCheckBox::toggled, &TForm1::CheckBox_17Click);
  bind(Button38, &QAbstractButton::clicked, &TForm1::Button38Click);
  connect(PageControl1, &QTabWidget::currentChanged, this, Guard([this](int index) {
            // The navigation marks the page shown, whoever showed it (the first run lands in
            // the editor after opening the help).
            Button36Click();
            if (index == 8) TabSheet9Show();
          }));
}

void TForm1::Button5Click() {
  // Asked at each hide: a notification area may come or go while the program runs. The window
  // hides only behind an icon that brings it back; without one it is minimised instead.
  if (TrayAvailable()) {
    RxTrayIcon1->show();
    hide();
    trayWatch_->start();
  } else if (!isMinimized()) {
    showMinimized();
  }
  SaveSettings();
  core::ReleaseProcessMemory("Quillomet");
}

void TForm1::CheckTrayStillThere() {
  if (isVisible()) {
    trayWatch_->stop();
  } else if (!TrayAvailable()) {
    trayWatch_->stop();
    RxTrayIcon1Click();
  }
}

void TForm1::Affiche1Click() {
  RxTrayIcon1Click();
  Devant();
}

void TForm1::RxTrayIcon1Click() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
}

void TForm1::Rduire1Click() { Button5Click(); }

void TForm1::Button9Click() { close(); }

void TForm1::FormClose(CloseAction& action) {
  SaveSettings();
  const bool running = RunBusy();
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                  QStringLiteral("Voulez-vous quitter ") + windowTitle() +
                      QStringLiteral(" ?\n\nSi vous quittez maintenant, les sauvegardes ne pourront plus s'effectuées") +
                      (running ? QStringLiteral("\n\nLa copie en cours sera arrêtée.") : QString()),
                  QMessageBox::NoButton, this);
  QPushButton* yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
  box.addButton(QStringLiteral("Non"), QMessageBox::NoRole);
  box.setObjectName(QStringLiteral("QuitQuestion"));
  box.exec();
  if (box.clickedButton() == yes) {
    action = CloseAction::caFree;
    // A run under way (or one that began while the question was open) is cut short: the
    // copy's temporary file goes, the run's end is written as stopped, then the walk unwinds
    // and the program ends.
    BackupRun().Abandon();
  } else {
    action = CloseAction::caNone;
    Button5Click();
  }
}

void TForm1::FormCloseQuery(bool&) {}

void TForm1::FormDestroy() {}

void TForm1::closeEvent(QCloseEvent* event) {
  CloseAction action = CloseAction::caFree;
  Guarded([&] {
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) {
      action = CloseAction::caNone;
      return;
    }
    FormClose(action);
  });
  // Saved again whatever the answer, so a program that quits keeps its last settings.
  Guarded([this] { SaveSettings(); });
  if (action == CloseAction::caFree) {
    event->accept();
    ExitProgram();
  } else {
    event->ignore();
  }
}

void TForm1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    Guarded([this] { ApplicationEvents1Minimize(); });
  } else if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    Guarded([this] { FormActivate(); });
  }
}

void TForm1::ApplicationEvents1Minimize() { Button5Click(); }

void TForm1::Devant() {
  activateWindow();
  raise();
}

void TForm1::setNavigation(TransparentButton* coloured) {
  for (TransparentButton* b : {JvTransparentButton1, JvTransparentButton2, JvTransparentButton3, JvTransparentButton4,
                               JvTransparentButton5, JvTransparentButton6, JvTransparentButton7, JvTransparentButton8})
    b->setAutoGray(b != coloured);
}

void TForm1::JvTransparentButton3Click() {
  setNavigation(JvTransparentButton3);
  PageControl1->setCurrentIndex(0);
  ListView1->setFocus();
}

void TForm1::JvTransparentButton2Click() {
  setNavigation(JvTransparentButton2);
  PageControl1->setCurrentIndex(1);
  Button6Click();
  CheckBox12->setChecked(false);
}

void TForm1::JvTransparentButton4Click() {
  setNavigation(JvTransparentButton4);
  PageControl1->setCurrentIndex(3);
  ListView2->setFocus();
}

void TForm1::JvTransparentButton1Click() {
  setNavigation(JvTransparentButton1);
  PageControl1->setCurrentIndex(5);
}

void TForm1::JvTransparentButton5Click() {
  setNavigation(JvTransparentButton5);
  PageControl1->setCurrentIndex(8);
}

void TForm1::JvTransparentButton6Click() {
  setNavigation(JvTransparentButton6);
  PageControl1->setCurrentIndex(7);
  ListView3->setFocus();
}

void TForm1::JvTransparentButton7Click() {
  setNavigation(JvTransparentButton7);
  Misejour1Click();
}

void TForm1::Button31Click() { PageControl1->setCurrentIndex(9); }

void TForm1::Button37Click() { PageControl1->setCurrentIndex(1); }

void TForm1::Button32Click() {
  PageControl1->setCurrentIndex(0);
  Button36Click();
}

void TForm1::Button36Click() {
  const int page = PageControl1->currentIndex();
  JvTransparentButton7->setAutoGray(true);
  JvTransparentButton8->setAutoGray(true);
  JvTransparentButton3->setAutoGray(page != 0);
  JvTransparentButton2->setAutoGray(page != 1 && page != 9);
  JvTransparentButton4->setAutoGray(page != 3);
  JvTransparentButton1->setAutoGray(page != 5);
  JvTransparentButton5->setAutoGray(page != 8);
  JvTransparentButton6->setAutoGray(page != 7);
}

void TForm1::Button15Click() {
  setNavigation(JvTransparentButton8);
  // The help shipped beside the program, in the desktop's browser, else in our own window.
  Help->open(QString::fromStdString(platform::ProgramFolder() + "/aide/index.html"));
}

// The folder of the settings, the timetable and the logs, in the file manager.
void TForm1::Button16Click() { QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(DataFolder))); }

void TForm1::Misejour1Click() { platform::ShellOpen(platform::ProgramFolder() + "/Update"); }

void TForm1::SiteWeb1Click() { QDesktopServices::openUrl(QUrl(QStringLiteral(QUILLOMET_WEB_ADDRESS))); }

void TForm1::propos1Click() {
  if (!AboutBox) return;
  AboutBox->show();
  AboutBox->raise();
}

void TForm1::CheckBox_17Click() { JvBalloonHint1->setUseBalloonAsApplicationHint(CheckBox_17->isChecked()); }

void TForm1::ScrollBox3MouseWheelDown() {
  QScrollBar* bar = ScrollBox3->verticalScrollBar();
  bar->setValue(bar->value() + 10);
  ScrollBox3->setFocus();
}

void TForm1::ScrollBox3MouseWheelUp() {
  QScrollBar* bar = ScrollBox3->verticalScrollBar();
  bar->setValue(bar->value() - 10);
  ScrollBox3->setFocus();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ScrollBox3->viewport() && event->type() == QEvent::Wheel) {
    const int dy = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (dy < 0) Guarded([this] { ScrollBox3MouseWheelDown(); });
    if (dy > 0) Guarded([this] { ScrollBox3MouseWheelUp(); });
    return true;  // exactly 10 per notch, not Qt's own step on top
  }
  if (watched == Edit13 && event->type() == QEvent::FocusIn) Guarded([this] { Edit13Enter(); });
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::TabSheet9Show() { ScrollBox3->setFocus(); }

void TForm1::Button38Click() {
  QMessageBox::information(this, QApplication::applicationName(),
                           QStringLiteral(" >") + QString::number(core::CopyThresholdOf(sup_a->value())));
}

}  // namespace ui
