#pragma once
// Safe removal of the USB volume a backup has just used: names it and ejects it on demand.
#include <QDialog>

#include "scheduler/core/usbvolume.h"
#include "scheduler/ui/udiskseject.h"

class QLabel;
class QPushButton;

namespace ui {

class TSafeRemoval : public QDialog {
  Q_OBJECT

 public:
  TSafeRemoval(const core::UsbVolume& volume, const QDBusConnection& bus, QWidget* parent = nullptr);

  QLabel* Label1;           // what the dialog has to say
  QPushButton* Button1;     // "Éjecter"
  QPushButton* Button2;     // "Fermer"
  const core::UsbVolume& Volume() const { return volume_; }

  void Button1Click();

 private:
  core::UsbVolume volume_;
  UDisksEject eject_;
};

}  // namespace ui
