#include "scheduler/ui/gradientpanel.h"

#include <QLinearGradient>
#include <QPainter>

namespace ui {

GradientPanel::GradientPanel(QWidget* parent) : QFrame(parent) {}

void GradientPanel::setStartColor(const QColor& c) {
  start_ = c;
  update();
}

void GradientPanel::setEndColor(const QColor& c) {
  end_ = c;
  update();
}

void GradientPanel::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, start_);
  g.setColorAt(1, end_);
  p.fillRect(rect(), g);
  QFrame::paintEvent(event);
}

}  // namespace ui
