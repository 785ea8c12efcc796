#include "scheduler/ui/textfit.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QWidget>

namespace ui {

void KeepTextsWhole(QWidget* root) {
  for (QWidget* w : root->findChildren<QWidget*>()) {
    auto* label = qobject_cast<QLabel*>(w);
    if (!label && !qobject_cast<QAbstractButton*>(w)) continue;
    if (w->property("elidesText").toBool()) continue;
    QSizePolicy policy = w->sizePolicy();
    // A wrapping label may get narrower: it grows in height instead.
    if (!(label && label->wordWrap()) && policy.horizontalPolicy() == QSizePolicy::Preferred)
      policy.setHorizontalPolicy(QSizePolicy::Minimum);
    if (policy.verticalPolicy() == QSizePolicy::Preferred) policy.setVerticalPolicy(QSizePolicy::Minimum);
    w->setSizePolicy(policy);
  }
}

void AlignLabelColumn(std::initializer_list<QLabel*> labels) {
  int widest = 0;
  for (QLabel* l : labels) widest = std::max(widest, l->sizeHint().width());
  for (QLabel* l : labels) l->setMinimumWidth(widest);
}

namespace {

class MinimumKeeper : public QObject {
 public:
  MinimumKeeper(QWidget* window, const QSize& floor) : QObject(window), window_(window), floor_(floor) { apply(); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::LayoutRequest) apply();
    return false;
  }

 private:
  void apply() {
    if (!window_->layout()) return;
    const QSize need = window_->layout()->totalMinimumSize().expandedTo(floor_);
    if (need != window_->minimumSize()) window_->setMinimumSize(need);
  }
  QWidget* window_;
  QSize floor_;
};

}  // namespace

void KeepMinimumSize(QWidget* window, const QSize& floor) {
  window->installEventFilter(new MinimumKeeper(window, floor));
}

}  // namespace ui
