#pragma once
// Window tests: runs a body while the message box it opens is closed at once.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace testenv {

// Returns the text of the box that body opened ("" when it opened none).
template <class F>
QString WithBox(F body) {
  QString text;
  QTimer::singleShot(0, [&text] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      box->accept();
    }
  });
  body();
  return text;
}

}  // namespace testenv
