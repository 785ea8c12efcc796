#pragma once
// Status bar of fixed, centred text panels.
#include <QStatusBar>
#include <vector>

class QLabel;

namespace ui {

class PanelStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit PanelStatusBar(QWidget* parent = nullptr, int panels = 3, int width = 230);
  int panelCount() const { return static_cast<int>(panels_.size()); }
  QString panelText(int index) const;
  void setPanelText(int index, const QString& text);

 private:
  std::vector<QLabel*> panels_;
};

}  // namespace ui
