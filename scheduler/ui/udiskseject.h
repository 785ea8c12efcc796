#pragma once
// Unmount and power-off of a USB volume through UDisks2 over D-Bus.
#include <QDBusConnection>
#include <QString>

#include "scheduler/core/usbvolume.h"

namespace ui {

class UDisksEject {
 public:
  explicit UDisksEject(QDBusConnection bus) : bus_(std::move(bus)) {}

  // Whether UDisks2 runs on the bus or can be started by it.
  bool Available() const;

  struct Result {
    bool ok = false;
    QString text;  // French: what happened, or why not
  };
  // Filesystem.Unmount on the volume's block device, then Drive.PowerOff on its drive.
  Result Eject(const core::UsbVolume& volume) const;

 private:
  QDBusConnection bus_;
};

}  // namespace ui
