#pragma once
// Window tests: runs a body while the message box it opens is closed at once.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace testenv {

// Returns the text of the box that body opened ("" when it opened none).
// The box's icon goes to *icon when asked for.
template <class F>
QString WithBox(F body, QMessageBox::Icon* icon = nullptr) {
  QString text;
  QTimer::singleShot(0, [&text, icon] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      if (icon) *icon = box->icon();
      box->accept();
    }
  });
  body();
  return text;
}

}  // namespace testenv
