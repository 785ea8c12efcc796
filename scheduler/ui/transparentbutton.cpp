#include "scheduler/ui/transparentbutton.h"

namespace ui {

TransparentButton::TransparentButton(QWidget* parent) : QToolButton(parent) {
  setAutoRaise(true);
  setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  setAutoGray(true);
}

void TransparentButton::setAutoGray(bool on) {
  autoGray_ = on;
  setStyleSheet(on ? QStringLiteral("QToolButton { color: #5a5a5a; }")
                   : QStringLiteral("QToolButton { color: #ffffff; font-weight: bold; }"));
}

}  // namespace ui
