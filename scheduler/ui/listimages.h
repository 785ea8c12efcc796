#pragma once
// Small images of the history, last-run and log viewer lists, by index. The index also stays
// on the row (column 0, ListImageRole) so that it can be read back.
#include <QIcon>
#include <Qt>

class QTreeWidgetItem;

namespace ui {

constexpr int ListImageRole = Qt::UserRole + 1;

QIcon ListImage(int index);
void SetListImage(QTreeWidgetItem* item, int index);
int ListImageOf(const QTreeWidgetItem* item);

}  // namespace ui
