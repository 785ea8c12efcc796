#include "scheduler/ui/xpbar.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace ui {

XPBar::XPBar(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(1);
  header_ = new QToolButton(this);
  header_->setAutoRaise(true);
  header_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  header_->setStyleSheet(QStringLiteral("QToolButton { font-weight: bold; text-align: left; }"));
  layout->addWidget(header_);
  body_ = new QWidget(this);
  bodyLayout_ = new QVBoxLayout(body_);
  bodyLayout_->setContentsMargins(8, 0, 0, 0);
  bodyLayout_->setSpacing(0);
  layout->addWidget(body_);
  body_->hide();
  connect(header_, &QToolButton::clicked, this, [this] {
    if (!items_.empty()) setCollapsed(!collapsed_);
    emit clicked();
  });
}

QString XPBar::caption() const { return header_->text(); }

void XPBar::setCaption(const QString& text) { header_->setText(text); }

void XPBar::setCollapsed(bool on) {
  collapsed_ = on;
  body_->setVisible(!on && !items_.empty());
}

int XPBar::addItem(const QString& text, const QString& hint) {
  auto* b = new QToolButton(body_);
  b->setAutoRaise(true);
  b->setText(text);
  b->setToolTip(hint);
  b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  bodyLayout_->addWidget(b);
  const int index = static_cast<int>(items_.size());
  items_.push_back(b);
  connect(b, &QToolButton::clicked, this, [this, index] { emit itemClicked(index); });
  body_->setVisible(!collapsed_);
  return index;
}

}  // namespace ui
