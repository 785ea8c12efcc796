#pragma once
// Small images of the lists, by index. The main window's lists (history, last run, timetable)
// share one image list; the log viewer has its own. The index also stays on the row
// (column 0, ListImageRole) so that it can be read back.
#include <QIcon>
#include <Qt>

class QTreeWidgetItem;

namespace ui {

constexpr int ListImageRole = Qt::UserRole + 1;

enum class ImageList { Main, Viewer };

QIcon ListImage(int index, ImageList list = ImageList::Main);
void SetListImage(QTreeWidgetItem* item, int index, ImageList list = ImageList::Main);
int ListImageOf(const QTreeWidgetItem* item);

}  // namespace ui
