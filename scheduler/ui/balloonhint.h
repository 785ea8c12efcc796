#pragma once
// Application-wide hint style: balloons (rounded, coloured tool tips) or plain hints.
#include <QObject>
#include <QString>

namespace ui {

class BalloonHint : public QObject {
  Q_OBJECT

 public:
  explicit BalloonHint(QObject* parent = nullptr) : QObject(parent) {}
  bool useBalloonAsApplicationHint() const { return on_; }
  void setUseBalloonAsApplicationHint(bool on);

 private:
  bool on_ = false;
};

}  // namespace ui
