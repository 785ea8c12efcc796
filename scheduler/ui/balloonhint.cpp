#include "scheduler/ui/balloonhint.h"

#include <QApplication>

namespace ui {

namespace {
const QString kBalloonStyle = QStringLiteral(
    "QToolTip { background-color: #ffffe1; color: black; border: 1px solid #7a7a7a;"
    " border-radius: 6px; padding: 4px; }");
}

void BalloonHint::setUseBalloonAsApplicationHint(bool on) {
  on_ = on;
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return;
  QString sheet = app->styleSheet();
  sheet.remove(kBalloonStyle);
  if (on) sheet += kBalloonStyle;
  app->setStyleSheet(sheet);
}

}  // namespace ui
