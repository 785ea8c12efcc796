#include "scheduler/ui/elidedlabel.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace ui {
namespace {

class MiddleElider : public QObject {
 public:
  explicit MiddleElider(QLabel* label) : QObject(label), label_(label) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::ToolTip || event->type() == QEvent::Paint) {
      if (label_->toolTip() != label_->text()) label_->setToolTip(label_->text());
    }
    if (event->type() != QEvent::Paint) return false;
    QPainter painter(label_);
    const QRect area = label_->contentsRect();
    const QString shown = label_->fontMetrics().elidedText(label_->text(), Qt::ElideMiddle, area.width());
    label_->style()->drawItemText(&painter, area, int(label_->alignment()), label_->palette(), label_->isEnabled(),
                                  shown, label_->foregroundRole());
    return true;
  }

 private:
  QLabel* label_;
};

}  // namespace

void ElideInTheMiddle(QLabel* label) {
  label->setWordWrap(false);
  label->setProperty("elidesText", true);
  QSizePolicy policy = label->sizePolicy();
  policy.setHorizontalPolicy(QSizePolicy::Ignored);
  label->setSizePolicy(policy);
  label->installEventFilter(new MiddleElider(label));
}

}  // namespace ui
