#pragma once
// Scheduled-backup prompt: slides up above the taskbar when a known USB volume arrives.
#include <QWidget>

#include "ui_TForm4.h"

class QMenu;
class QAction;
class QTimer;

namespace ui {

class TForm4 : public QWidget, public Ui::TForm4 {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);

  QTimer* Timer1;  // slide up, one shot
  QTimer* Timer2;  // wait for the end of the queue
  QTimer* Timer3;  // offer the next job when the main window is idle
  QMenu* PopupMenu1;
  QAction* Ouipourcettesauvegarde1;
  QAction* Ouipourtouteslessauvegardes1;
  int SlideSteps = 0;

  void FormCreate();
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Ouipourtouteslessauvegardes1Click();
  void SpeedButton1Click();
};

extern TForm4* Form4;

}  // namespace ui
