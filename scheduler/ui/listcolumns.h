#pragma once
// List columns sized to their contents. The room left, or missing, goes to the elastic
// columns (paths, messages): a text they cannot show whole is elided in the middle, and every
// cell carries its whole text as tool tip. The columns named whole give up room only when even
// the elastic ones, down to their titles, leave too little.
#include <Qt>
#include <vector>

class QTableView;
class QTreeView;

namespace ui {

// Header data of a model too long to measure row by row: a row whose text in that column is the
// widest, measured with the rows in sight.
constexpr int WidestRowRole = Qt::UserRole + 7;

void FitColumnsToContents(QTreeView* view, std::vector<int> elastic, std::vector<int> whole = {});
void FitColumnsToContents(QTableView* view, std::vector<int> elastic, std::vector<int> whole = {});

}  // namespace ui
