#include "scheduler/ui/listitems.h"

#include <QByteArray>
#include <QListWidget>

namespace ui {

namespace {
constexpr int kBytesRole = Qt::UserRole + 1;
}

void AddItemText(QListWidget& list, const std::string& bytes) {
  auto* item = new QListWidgetItem(QString::fromStdString(bytes));
  item->setData(kBytesRole, QByteArray::fromStdString(bytes));
  list.addItem(item);
}

std::string ItemText(const QListWidgetItem& item) {
  const QVariant bytes = item.data(kBytesRole);
  // An item whose shown text was edited since keeps no longer matching bytes.
  if (bytes.isValid() && QString::fromUtf8(bytes.toByteArray()) == item.text()) return bytes.toByteArray().toStdString();
  return item.text().toStdString();
}

std::vector<std::string> ItemTexts(const QListWidget& list) {
  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(list.count()));
  for (int i = 0; i < list.count(); ++i) texts.push_back(ItemText(*list.item(i)));
  return texts;
}

}  // namespace ui
