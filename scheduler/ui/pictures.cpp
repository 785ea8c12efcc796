#include "scheduler/ui/pictures.h"

#include <QFile>
#include <QGuiApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QWidget>

// The resources live in a static library: register them once, before the first look-up.
static void InitPictures() {
  static const bool done = [] {
    Q_INIT_RESOURCE(pictures);
    return true;
  }();
  (void)done;
}

namespace ui {

QIcon Picture(const QString& name) {
  InitPictures();
  const QString path = QStringLiteral(":/pictures/") + name + QStringLiteral(".svg");
  if (!QFile::exists(path)) return {};
  return QIcon(path);
}

void SetLabelPicture(QLabel* label, const QString& name, const QSize& size) {
  const QIcon icon = Picture(name);
  // Drawn for the screen's scale, so that a 1.5x or 2x desktop gets no blurred enlargement.
  const qreal ratio = std::max(label->devicePixelRatioF(), qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
  label->setPixmap(icon.pixmap(size, ratio));
  label->setMinimumSize(size);
  label->setAlignment(Qt::AlignCenter);
}

QIcon ProgramIcon() { return Picture(QStringLiteral("quillomet")); }

namespace {

class BackgroundPainter : public QObject {
 public:
  BackgroundPainter(QWidget* widget, const QString& path) : QObject(widget), widget_(widget), svg_(path) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      QPainter painter(widget_);
      svg_.render(&painter, widget_->rect());
    }
    return false;
  }

 private:
  QWidget* widget_;
  QSvgRenderer svg_;
};

}  // namespace

void SetBackgroundPicture(QWidget* widget, const QString& name) {
  InitPictures();
  widget->installEventFilter(new BackgroundPainter(widget, QStringLiteral(":/pictures/") + name + QStringLiteral(".svg")));
}

}  // namespace ui
