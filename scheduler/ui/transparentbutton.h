#pragma once
// Flat navigation button; with autoGray on it is drawn grey, with it off in colour
// (the navigation bar marks the current choice that way).
#include <QIcon>
#include <QToolButton>

namespace ui {

class TransparentButton : public QToolButton {
  Q_OBJECT
  Q_PROPERTY(bool autoGray READ autoGray WRITE setAutoGray)

 public:
  explicit TransparentButton(QWidget* parent = nullptr);
  bool autoGray() const { return autoGray_; }
  void setAutoGray(bool on);
  // The picture in colour; greyed by the button itself while autoGray is on.
  void setPicture(const QIcon& icon);

 private:
  void refresh();
  bool autoGray_ = true;
  QIcon picture_;
};

}  // namespace ui
