#include "scheduler/ui/components.h"

#include <QMenu>
#include <QTimer>

namespace ui {

QTimer* MakeTimer(QObject* owner, const char* name, int intervalMs) {
  auto* t = new QTimer(owner);
  t->setObjectName(QString::fromLatin1(name));
  t->setInterval(intervalMs);
  return t;
}

QAction* AddMenuItem(QMenu* menu, const char* name, const QString& text) {
  QAction* a = menu->addAction(text);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

}  // namespace ui
