#include "scheduler/ui/tform4.h"

#include <QMenu>
#include <QTimer>

#include "platform/priority.h"
#include "scheduler/ui/components.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

TForm4* Form4 = nullptr;

TForm4::TForm4(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  setWindowFlags(Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint);
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
  Label2->setText(QStringLiteral("Voulez-vous démarrer la sauvegarde ?"));
}
void TForm4::Timer1Timer() {}
void TForm4::Timer2Timer() {}
void TForm4::Timer3Timer() {}
void TForm4::Button1Click() {}
void TForm4::Button2Click() {}
void TForm4::Button3Click() {}
void TForm4::Button4Click() {}
void TForm4::Ouipourtouteslessauvegardes1Click() {}
void TForm4::SpeedButton1Click() {}

}  // namespace ui
