#pragma once
// Window tests: runs a body while the message box it opens is closed at once.
#include <QAbstractButton>
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

// Answers the next message box with the button of that text, from inside the box's own loop.
// Its text goes to *text when asked for (which must outlive the box).
inline void AnswerNextBox(const QString& buttonText, QString* text = nullptr) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, poll, [poll, buttonText, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll->stop();
    poll->deleteLater();
    if (text) *text = box->text();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == buttonText) b->click();
  });
  poll->start(5);
}

}  // namespace testenv
