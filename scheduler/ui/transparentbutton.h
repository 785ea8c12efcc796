#pragma once
// Flat navigation button; with autoGray on it is drawn grey, with it off in colour
// (the navigation bar marks the current choice that way).
#include <QToolButton>

namespace ui {

class TransparentButton : public QToolButton {
  Q_OBJECT
  Q_PROPERTY(bool autoGray READ autoGray WRITE setAutoGray)

 public:
  explicit TransparentButton(QWidget* parent = nullptr);
  bool autoGray() const { return autoGray_; }
  void setAutoGray(bool on);

 private:
  bool autoGray_ = true;
};

}  // namespace ui
