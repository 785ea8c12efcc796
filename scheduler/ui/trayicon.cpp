#include "scheduler/ui/trayicon.h"

#include <QPainter>
#include <QPixmap>

#include "scheduler/ui/pictures.h"

namespace ui {

namespace {

// The program icon; while a run goes on, with a turning arc over it.
QIcon drawIcon(bool running, int angle) {
  QIcon icon;
  for (int side : {16, 22, 24, 32, 48, 64}) {
    QPixmap pm = ProgramIcon().pixmap(QSize(side, side));
    if (running) {
      QPainter p(&pm);
      p.setRenderHint(QPainter::Antialiasing);
      const qreal pen = side / 8.0;
      p.setPen(QPen(QColor(0xff, 0xb0, 0x20), pen, Qt::SolidLine, Qt::RoundCap));
      const QRectF ring(pen / 2, pen / 2, side - pen, side - pen);
      p.drawArc(ring, angle * 16, 100 * 16);
    }
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace

TrayIcon::TrayIcon(QObject* parent) : QSystemTrayIcon(parent) {
  still_ = drawIcon(false, 0);
  for (int i = 0; i < 4; ++i) icons_.push_back(drawIcon(true, 90 - 90 * i));
  setIcon(still_);
  frames_.setInterval(300);
  connect(&frames_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % icons_.size();
    setIcon(icons_[frame_]);
  });
  connect(this, &QSystemTrayIcon::activated, this, [this](ActivationReason reason) {
    if (reason == Trigger || reason == DoubleClick) emit clicked();
  });
}

void TrayIcon::setAnimated(bool on) {
  if (on == animated()) return;
  if (on) {
    frame_ = 0;
    setIcon(icons_[0]);
    frames_.start();
  } else {
    frames_.stop();
    setIcon(still_);
  }
}

}  // namespace ui
