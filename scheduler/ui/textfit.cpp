#include "scheduler/ui/textfit.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

namespace ui {

void KeepTextsWhole(QWidget* root) {
  for (QWidget* w : root->findChildren<QWidget*>()) {
    auto* label = qobject_cast<QLabel*>(w);
    if (!label && !qobject_cast<QAbstractButton*>(w)) continue;
    if (w->property("elidesText").toBool()) continue;
    // A wrapping label may get narrower: it grows in height instead, the height its layout gives
    // it for the width it gets. Its own size hint is taken at a guessed narrow width, far too
    // tall as a floor.
    if (label && label->wordWrap()) continue;
    QSizePolicy policy = w->sizePolicy();
    if (policy.horizontalPolicy() == QSizePolicy::Preferred) policy.setHorizontalPolicy(QSizePolicy::Minimum);
    if (policy.verticalPolicy() == QSizePolicy::Preferred) policy.setVerticalPolicy(QSizePolicy::Minimum);
    w->setSizePolicy(policy);
  }
}

void AlignLabelColumn(std::initializer_list<QLabel*> labels) {
  int widest = 0;
  for (QLabel* l : labels) widest = std::max(widest, l->sizeHint().width());
  for (QLabel* l : labels) l->setMinimumWidth(widest);
}

void ForgetSizesAbove(QWidget* changed) {
  for (QWidget* w = changed->parentWidget(); w && !w->isWindow(); w = w->parentWidget()) w->updateGeometry();
}

QSize NeededSize(const QWidget* window) {
  const QLayout* layout = window->layout();
  if (!layout) return window->minimumSizeHint();
  QSize need = layout->totalMinimumSize();
  if (layout->hasHeightForWidth()) {
    need.setHeight(layout->totalMinimumHeightForWidth(window->width()));
    return need;
  }
  // A main window's layout knows nothing of heights for widths: its central part does.
  const auto* main = qobject_cast<const QMainWindow*>(window);
  const QWidget* central = main ? main->centralWidget() : nullptr;
  const QLayout* inner = central ? central->layout() : nullptr;
  if (inner && inner->hasHeightForWidth() && central->sizePolicy().verticalPolicy() & QSizePolicy::ShrinkFlag)
    need.rheight() += inner->totalMinimumHeightForWidth(central->width()) - inner->totalMinimumSize().height();
  return need;
}

namespace {

class MinimumKeeper : public QObject {
 public:
  MinimumKeeper(QWidget* window, const QSize& floor) : QObject(window), window_(window), floor_(floor) { apply(); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    // A new width may wrap texts on more or fewer lines.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize) apply();
    return false;
  }

 private:
  void apply() {
    if (!window_->layout()) return;
    QSize need = NeededSize(window_).expandedTo(floor_);
    // Never taller than the work area, on a screen that holds the smallest window at all.
    if (const QScreen* screen = window_->screen()) {
      const int room = screen->availableGeometry().height() - (window_->frameGeometry().height() - window_->height());
      if (room >= floor_.height()) need.setHeight(std::min(need.height(), room));
    }
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
