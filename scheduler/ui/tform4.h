#pragma once
// Scheduled-backup prompt: slides up above the taskbar when a known USB volume arrives.
#include <QWidget>

#include "scheduler/core/usbvolume.h"
#include "ui_TForm4.h"

class QMenu;
class QAction;
class QTimer;
class QScreen;

namespace ui {

class TSafeRemoval;

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
  int SlideStepMs = 10;  // pause between two pixels of a slide

  // The volume of the last arrival that offered jobs, offered for safe removal at the end.
  core::UsbVolume Volume;
  // Bus of the safe removal; an empty address means the system bus.
  QString SafeRemovalBus;
  TSafeRemoval* SafeRemoval = nullptr;  // the dialog last offered, while it is open

  void FormCreate();
  void FormClose();
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Ouipourtouteslessauvegardes1Click();
  void SpeedButton1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QScreen* trayScreen() const;
  // Grows (up) or shrinks the prompt one pixel at a time, its bottom edge kept on the bottom of
  // the work area; a newer slide ends an older one.
  void slide(bool up);
  void finish();
  void offerSafeRemoval();
  int slideRun_ = 0;
};

extern TForm4* Form4;

}  // namespace ui
