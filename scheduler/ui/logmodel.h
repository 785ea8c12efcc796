#pragma once
// The log viewer's list: the rows of a daily log, their texts and images taken from the log's
// text when the view asks for them.
#include <QAbstractTableModel>
#include <QStringList>

#include <array>
#include <optional>

#include "scheduler/core/logview.h"

namespace ui {

class LogListModel : public QAbstractTableModel {
 public:
  LogListModel(QStringList titles, QObject* parent);

  void setLog(core::LogView log);
  const core::LogView& log() const { return log_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  // Always ascending, whatever the order asked.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  QStringList titles_;
  core::LogView log_;
  mutable std::optional<std::array<std::size_t, core::LogView::kColumns>> longest_;
};

}  // namespace ui
