#include "scheduler/ui/tform4.h"

#include <QCloseEvent>
#include <QDBusConnection>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include "platform/priority.h"
#include "platform/volumes.h"
#include "scheduler/core/jobline.h"
#include "scheduler/ui/components.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/elidedlabel.h"
#include "scheduler/ui/pictures.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/textfit.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/trayicon.h"
#include "scheduler/ui/tsaferemoval.h"

namespace ui {

TForm4* Form4 = nullptr;

namespace {

const QString kQuestion = QStringLiteral("Voulez-vous démarrer la sauvegarde ?");

// Switches a timer on; one already on keeps its running interval.
void TurnOn(QTimer* timer) {
  if (!timer->isActive()) timer->start();
}

QString TargetOf(const QListWidgetItem* job) {
  return QString::fromStdString(core::ReadJobLine(ItemText(*job)).target);
}

}  // namespace

TForm4::TForm4(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  SetBackgroundPicture(this, QStringLiteral("prompt-background"));
  SpeedButton1->setText(QString());
  SpeedButton1->setIcon(Picture(QStringLiteral("prompt-close")));
  SpeedButton1->setToolTip(QStringLiteral("Fermer"));
  ElideInTheMiddle(Label3);
  ElideInTheMiddle(Label5);
  Form4_target->setStretchFactor(Label3, 1);  // the target takes the row, "Sur :" only its text
  KeepTextsWhole(this);
  // The designed 208 x 173, or what the texts need.
  resize(sizeHint().expandedTo(size()));
  setWindowFlags(Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
  // It offers; the user keeps typing where he was.
  setAttribute(Qt::WA_ShowWithoutActivating);
  // The slide shows the prompt from one pixel up: the layout must not hold it taller.
  layout()->setSizeConstraint(QLayout::SetNoConstraint);
  Timer1 = MakeTimer(this, "Timer1", 500);
  Timer2 = MakeTimer(this, "Timer2", 7000);
  Timer3 = MakeTimer(this, "Timer3", 7000);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  Ouipourcettesauvegarde1 =
      AddMenuItem(PopupMenu1, "Ouipourcettesauvegarde1", QStringLiteral("Oui pour cette sauvegarde"));
  Ouipourtouteslessauvegardes1 =
      AddMenuItem(PopupMenu1, "Ouipourtouteslessauvegardes1", QStringLiteral("Oui pour toutes les sauvegardes"));

  auto bind = [this](auto* sender, auto signal, void (TForm4::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  bind(Timer1, &QTimer::timeout, &TForm4::Timer1Timer);
  bind(Timer2, &QTimer::timeout, &TForm4::Timer2Timer);
  bind(Timer3, &QTimer::timeout, &TForm4::Timer3Timer);
  bind(Button1, &QPushButton::clicked, &TForm4::Button1Click);
  bind(Ouipourcettesauvegarde1, &QAction::triggered, &TForm4::Button1Click);
  bind(Ouipourtouteslessauvegardes1, &QAction::triggered, &TForm4::Ouipourtouteslessauvegardes1Click);
  bind(Button2, &QPushButton::clicked, &TForm4::Button2Click);
  bind(Button3, &QPushButton::clicked, &TForm4::Button3Click);
  bind(Button4, &QPushButton::clicked, &TForm4::Button4Click);
  bind(SpeedButton1, &QToolButton::clicked, &TForm4::SpeedButton1Click);
  Guarded([this] { FormCreate(); });
}

void TForm4::FormCreate() {
  platform::SetIdlePriority();
  SlideSteps = height();
  if (Form1) Form1->Edit21->clear();
  Label2->setText(kQuestion);
}

void TForm4::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  ++slideRun_;  // a slide under way ends with the prompt
  event->accept();
}

void TForm4::FormClose() {
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  Label5->clear();
  Label6->clear();
}

QScreen* TForm4::trayScreen() const {
  if (Form1 && Form1->RxTrayIcon1) {
    const QRect icon = Form1->RxTrayIcon1->geometry();
    if (icon.isValid())
      if (QScreen* s = QGuiApplication::screenAt(icon.center())) return s;
  }
  return QGuiApplication::primaryScreen();
}

void TForm4::slide(bool up) {
  const int run = ++slideRun_;
  const QScreen* screen = trayScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
  const int bottom = work.y() + work.height();
  const int left = work.x() + work.width() - width();
  int h = height();
  for (int i = 0; i <= SlideSteps; ++i) {
    h = up ? h + 1 : std::max(h - 1, 1);
    setGeometry(left, bottom - h, width(), h);
    repaint();
    if (SlideStepMs > 0) {
      QEventLoop wait;
      QTimer::singleShot(SlideStepMs, &wait, &QEventLoop::quit);
      wait.exec();
    } else {
      QCoreApplication::processEvents();
    }
    if (run != slideRun_) return;
  }
}

void TForm4::Timer1Timer() {
  for (QLabel* l : {Label7, Label8, Label6, Label5}) l->clear();
  Label2->setText(kQuestion);
  Timer1->stop();
  const QScreen* screen = trayScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
  setGeometry(work.x() + work.width() - width(), work.y() + work.height() - 1, width(), 1);
  show();
  if (ListBox1->count() > 0) Label3->setText(TargetOf(ListBox1->item(0)));
  slide(true);
}

void TForm4::Button1Click() {
  Label2->setText(QStringLiteral("Sauvegarde en cours"));
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Button3->setEnabled(true);
  if (ListBox1->count() > 0) {
    Label3->setText(TargetOf(ListBox1->item(0)));
    AddItemText(*Form1->ListBox3, ItemText(*ListBox1->item(0)));
    delete ListBox1->takeItem(0);
  }
  TurnOn(ListBox1->count() > 0 ? Timer3 : Timer2);
}

void TForm4::Ouipourtouteslessauvegardes1Click() {
  Label2->setText(QStringLiteral("Sauvegarde en cours"));
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Button3->setEnabled(true);
  for (const std::string& job : ItemTexts(*ListBox1)) AddItemText(*Form1->ListBox3, job);
  ListBox1->clear();
  TurnOn(Timer2);
  Label3->setText(QStringLiteral("Liste programmée"));
}

void TForm4::Button2Click() {
  if (ListBox1->count() == 0 && (Form1->Edit12->text() == "true" || Form1->ScruteDossier1.Stop)) {
    Label2->setText(QStringLiteral("Sauvegarde Terminée."));
    finish();
    return;
  }
  if (ListBox1->count() > 0) delete ListBox1->takeItem(0);
  if (ListBox1->count() > 0) {
    Label3->setText(TargetOf(ListBox1->item(0)));
    return;
  }
  Label3->clear();
  finish();
}

void TForm4::finish() {
  ListBox1->clear();
  Timer2->stop();
  Timer3->stop();
  Button3->setEnabled(false);
  if (isVisible()) slide(false);
  if (Form1->supp_peri->isChecked()) offerSafeRemoval();
  close();
}

// Offered only once nothing uses the volume any more: no run, no job for it in the queue.
void TForm4::offerSafeRemoval() {
  if (Volume.mountPoint.empty() || Form1->RunBusy() || Form1->Edit12->text() != "true") return;
  const std::string inside = Volume.mountPoint == "/" ? "/" : Volume.mountPoint + "/";
  for (const std::string& line : ItemTexts(*Form1->ListBox3)) {
    const core::Job job = core::ReadJobLine(line);
    if (job.target.rfind(inside, 0) == 0 || job.source.rfind(inside, 0) == 0) return;
  }
  if (!platform::StillMounted(Volume.mountPoint, Volume.major, Volume.minor, Form1->UsbRoots)) return;
  if (SafeRemoval) SafeRemoval->close();
  const QDBusConnection bus =
      SafeRemovalBus.isEmpty() ? QDBusConnection::systemBus()
                               : QDBusConnection::connectToBus(SafeRemovalBus, "Quillomet " + SafeRemovalBus);
  auto* dialog = new TSafeRemoval(Volume, bus, Form1);
  dialog->setWindowFlag(Qt::Dialog);
  connect(dialog, &QObject::destroyed, this, [this, dialog] {
    if (SafeRemoval == dialog) SafeRemoval = nullptr;
  });
  SafeRemoval = dialog;
  dialog->show();
}

void TForm4::Button3Click() { Form1->ScruteDossier1.Stop = true; }

void TForm4::Button4Click() {
  const int right = Button4->mapToGlobal(QPoint(Button4->width(), 0)).x();
  const int below = Button1->mapToGlobal(QPoint(0, Button1->height())).y();
  PopupMenu1->popup(QPoint(right - PopupMenu1->sizeHint().width(), below));
}

void TForm4::Timer2Timer() {
  Button3->setEnabled(true);
  if (Form1->Edit21->text() == "rien" && Form1->ListBox3->count() == 0 && ListBox1->count() == 0) {
    Timer2->stop();
    Label3->clear();
    Button2Click();
    Form1->Edit21->clear();
  }
}

void TForm4::Timer3Timer() {
  if (Form1->Edit12->text() != "true") {
    TurnOn(Timer2);
    return;
  }
  Label5->clear();
  if (ListBox1->count() > 0) Label3->setText(TargetOf(ListBox1->item(0)));
  Label2->setText(kQuestion);
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  Button3->setEnabled(false);
}

void TForm4::SpeedButton1Click() { close(); }

}  // namespace ui
