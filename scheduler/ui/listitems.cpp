#include "scheduler/ui/listitems.h"

#include <QByteArray>
#include <QListWidget>

#include "scheduler/core/fields.h"

namespace ui {

namespace {
constexpr int kBytesRole = Qt::UserRole + 1;

QString Shown(std::string_view bytes) {
  bool cut = false;
  std::string_view part = ShownPart(bytes, &cut);
  QString text = QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()));
  if (cut) text += QString::fromUtf8(kCutMark);
  return text;
}

}  // namespace

std::string_view ShownPart(std::string_view bytes, bool* cut) {
  if (cut) *cut = bytes.size() > kShownBytes;
  return bytes.substr(0, core::Utf8PrefixLength(bytes, kShownBytes));
}

void AddItemText(QListWidget& list, const std::string& bytes) {
  auto* item = new QListWidgetItem(Shown(bytes));
  item->setData(kBytesRole, QByteArray::fromStdString(bytes));
  list.addItem(item);
}

std::string ItemText(const QListWidgetItem& item) {
  const QVariant bytes = item.data(kBytesRole);
  // An item whose shown text was edited since keeps no longer matching bytes.
  if (bytes.isValid()) {
    const QByteArray raw = bytes.toByteArray();
    if (Shown(std::string_view(raw.constData(), static_cast<std::size_t>(raw.size()))) == item.text())
      return raw.toStdString();
  }
  return item.text().toStdString();
}

std::vector<std::string> ItemTexts(const QListWidget& list) {
  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(list.count()));
  for (int i = 0; i < list.count(); ++i) texts.push_back(ItemText(*list.item(i)));
  return texts;
}

}  // namespace ui
