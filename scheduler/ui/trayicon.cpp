#include "scheduler/ui/trayicon.h"

#include <QPainter>
#include <QPixmap>

namespace ui {

namespace {

QIcon drawIcon(const QColor& ring, int angle) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x3a, 0x6e, 0xa5));
  p.setPen(Qt::NoPen);
  p.drawEllipse(2, 2, 28, 28);
  p.setPen(QPen(ring, 4));
  p.drawArc(6, 6, 20, 20, angle * 16, 270 * 16);
  return QIcon(pm);
}

}  // namespace

TrayIcon::TrayIcon(QObject* parent) : QSystemTrayIcon(parent) {
  still_ = drawIcon(Qt::white, 90);
  for (int i = 0; i < 4; ++i) icons_.push_back(drawIcon(QColor(0xff, 0xd0, 0x40), 90 * i));
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
