#pragma once
// Notification-area icon with a hint and an animation that cycles a list of icons.
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>
#include <vector>

namespace ui {

class TrayIcon : public QSystemTrayIcon {
  Q_OBJECT

 public:
  explicit TrayIcon(QObject* parent = nullptr);
  QString hint() const { return toolTip(); }
  void setHint(const QString& text) { setToolTip(text); }
  bool animated() const { return frames_.isActive(); }
  void setAnimated(bool on);
  int frameCount() const { return static_cast<int>(icons_.size()); }

 signals:
  // A left click or a double click on the icon.
  void clicked();

 private:
  QIcon still_;
  std::vector<QIcon> icons_;
  QTimer frames_;
  size_t frame_ = 0;
};

}  // namespace ui
