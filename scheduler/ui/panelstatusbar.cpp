#include "scheduler/ui/panelstatusbar.h"

#include <QLabel>

namespace ui {

PanelStatusBar::PanelStatusBar(QWidget* parent, int panels, int width) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  for (int i = 0; i < panels; ++i) {
    auto* l = new QLabel(this);
    l->setAlignment(Qt::AlignCenter);
    l->setFixedWidth(width);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    addWidget(l);
    panels_.push_back(l);
  }
}

QString PanelStatusBar::panelText(int index) const {
  if (index < 0 || index >= panelCount()) return {};
  return panels_[static_cast<size_t>(index)]->text();
}

void PanelStatusBar::setPanelText(int index, const QString& text) {
  if (index < 0 || index >= panelCount()) return;
  panels_[static_cast<size_t>(index)]->setText(text);
}

}  // namespace ui
