#include "scheduler/ui/logmodel.h"

#include <vector>

#include "scheduler/ui/listcolumns.h"
#include "scheduler/ui/listimages.h"

namespace ui {

LogListModel::LogListModel(QStringList titles, QObject* parent) : QAbstractTableModel(parent), titles_(std::move(titles)) {}

void LogListModel::setLog(core::LogView log) {
  beginResetModel();
  log_ = std::move(log);
  longest_.reset();
  endResetModel();
}

int LogListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(log_.rows());
}

int LogListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(titles_.size()); }

QVariant LogListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const auto row = static_cast<std::size_t>(index.row());
  if (index.column() == 0) {
    if (role == Qt::DecorationRole) return ListImage(log_.image(row), ImageList::Viewer);
    if (role == ListImageRole) return log_.image(row);
  }
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    const std::string_view text = log_.text(row, index.column());
    if (text.empty()) return {};
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  }
  return {};
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  if (role == Qt::DisplayRole) return titles_[section];
  if (role == WidestRowRole && section < core::LogView::kColumns) {
    if (!longest_) longest_ = log_.longestRows();
    return static_cast<int>((*longest_)[static_cast<std::size_t>(section)]);
  }
  return {};
}

void LogListModel::sort(int column, Qt::SortOrder) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // Kept indexes (the selection, the current row) follow their lines.
  const QModelIndexList kept = persistentIndexList();
  std::vector<std::size_t> lines;
  lines.reserve(static_cast<std::size_t>(kept.size()));
  for (const QModelIndex& index : kept) lines.push_back(log_.lineOf(static_cast<std::size_t>(index.row())));
  log_.sortBy(column);
  longest_.reset();
  if (!kept.isEmpty()) {
    std::vector<int> rowOfLine(log_.rows());
    for (std::size_t row = 0; row < log_.rows(); ++row) rowOfLine[log_.lineOf(row)] = static_cast<int>(row);
    QModelIndexList moved;
    for (qsizetype i = 0; i < kept.size(); ++i) moved << index(rowOfLine[lines[static_cast<std::size_t>(i)]], kept[i].column());
    changePersistentIndexList(kept, moved);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace ui
