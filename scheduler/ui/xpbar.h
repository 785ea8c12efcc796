#pragma once
// Task-pane bar: a caption that collapses or expands a column of clickable items.
// A bar without items acts as one action: clicking its caption emits clicked().
#include <QFrame>
#include <QString>
#include <vector>

class QToolButton;
class QVBoxLayout;

namespace ui {

class XPBar : public QFrame {
  Q_OBJECT
  Q_PROPERTY(QString caption READ caption WRITE setCaption)
  Q_PROPERTY(bool collapsed READ collapsed WRITE setCollapsed)

 public:
  explicit XPBar(QWidget* parent = nullptr);
  QString caption() const;
  void setCaption(const QString& text);
  bool collapsed() const { return collapsed_; }
  void setCollapsed(bool on);
  // Appends an item and returns its index.
  int addItem(const QString& text, const QString& hint = {});
  int itemCount() const { return static_cast<int>(items_.size()); }
  QToolButton* item(int index) const { return items_.at(static_cast<size_t>(index)); }

 signals:
  void clicked();
  void itemClicked(int index);

 private:
  QToolButton* header_;
  QWidget* body_;
  QVBoxLayout* bodyLayout_;
  std::vector<QToolButton*> items_;
  bool collapsed_ = false;
};

}  // namespace ui
