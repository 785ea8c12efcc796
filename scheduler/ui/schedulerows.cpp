#include "scheduler/ui/schedulerows.h"

#include <QByteArray>
#include <QStringDecoder>

#include "scheduler/core/timetable.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/listitems.h"

namespace ui {

namespace {
constexpr int kEntryImage = 9;
}  // namespace

QString ShownFileText(std::string_view bytes) {
  bool cut = false;
  const std::string_view part = ShownPart(bytes, &cut);
  const QByteArray raw = QByteArray::fromRawData(part.data(), static_cast<qsizetype>(part.size()));
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(raw);
  if (utf8.hasError()) text = QString::fromLatin1(raw);
  if (cut) text += QString::fromUtf8(kCutMark);
  return text;
}

ScheduleRowItem::ScheduleRowItem(const std::vector<std::string>& lines, std::size_t line)
    : QTreeWidgetItem(Type), lines_(&lines), line_(line) {}

QVariant ScheduleRowItem::data(int column, int role) const {
  QVariant set = QTreeWidgetItem::data(column, role);
  if (set.isValid() || column < 0 || column >= core::kScheduleRowColumns) return set;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      if (line_ >= lines_->size()) return {};
      std::string scratch;
      return ShownFileText(core::ScheduleRowText(line_, (*lines_)[line_], column, scratch));
    }
    case Qt::ToolTipRole:  // the whole text of a cell that may be elided
      return data(column, Qt::DisplayRole);
    case Qt::DecorationRole:
      if (column == 0) return ListImage(kEntryImage);
      break;
    case ListImageRole:
      if (column == 0) return kEntryImage;
      break;
    default: break;
  }
  return {};
}

}  // namespace ui
