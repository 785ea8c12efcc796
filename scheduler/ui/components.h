#pragma once
// Named non-visual components that windows create in code.
class QObject;
class QTimer;
class QMenu;
class QAction;
class QString;

namespace ui {

// A stopped timer with its given name.
QTimer* MakeTimer(QObject* owner, const char* name, int intervalMs);

// A menu item with its given name.
QAction* AddMenuItem(QMenu* menu, const char* name, const QString& text);

}  // namespace ui
