#pragma once
// Panel with a vertical two-colour gradient background.
#include <QColor>
#include <QFrame>

namespace ui {

class GradientPanel : public QFrame {
  Q_OBJECT
  Q_PROPERTY(QColor startColor READ startColor WRITE setStartColor)
  Q_PROPERTY(QColor endColor READ endColor WRITE setEndColor)

 public:
  explicit GradientPanel(QWidget* parent = nullptr);
  QColor startColor() const { return start_; }
  QColor endColor() const { return end_; }
  void setStartColor(const QColor& c);
  void setEndColor(const QColor& c);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor start_{0x3a, 0x6e, 0xa5};
  QColor end_{0xd6, 0xe4, 0xf2};
};

}  // namespace ui
