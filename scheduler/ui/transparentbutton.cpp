#include "scheduler/ui/transparentbutton.h"

#include <QStyle>
#include <QStyleOption>

namespace ui {

TransparentButton::TransparentButton(QWidget* parent) : QToolButton(parent) {
  setAutoRaise(true);
  setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  setIconSize(QSize(32, 32));
  setAutoGray(true);
}

void TransparentButton::setAutoGray(bool on) {
  autoGray_ = on;
  refresh();
}

void TransparentButton::setPicture(const QIcon& icon) {
  picture_ = icon;
  refresh();
}

void TransparentButton::refresh() {
  // Dark text on the light lower half of the gradient: the current choice in bold dark blue
  // on a light plate, the others in grey.
  setStyleSheet(autoGray_ ? QStringLiteral("QToolButton { color: #4b5563; padding: 2px 6px; }")
                          : QStringLiteral("QToolButton { color: #0b2f5c; font-weight: bold; padding: 2px 6px;"
                                           " background: rgba(255, 255, 255, 150); border: 1px solid #7fa7cf;"
                                           " border-radius: 4px; }"));
  if (picture_.isNull()) {
    setIcon(QIcon());
    return;
  }
  if (!autoGray_) {
    setIcon(picture_);
    return;
  }
  // The style's own greying of the colour picture, at scale 1 and 2.
  QIcon grey;
  QStyleOption option;
  option.initFrom(this);
  for (qreal ratio : {1.0, 2.0}) {
    const QPixmap colour = picture_.pixmap(iconSize(), ratio);
    grey.addPixmap(style()->generatedIconPixmap(QIcon::Disabled, colour, &option));
  }
  setIcon(grey);
}

}  // namespace ui
