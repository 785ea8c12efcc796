#pragma once
// List columns sized to their contents. The room left, or missing, goes to the elastic
// columns (paths, messages): a text they cannot show whole is elided in the middle, and every
// cell carries its whole text as tool tip.
#include <vector>

class QTreeWidget;

namespace ui {

void FitColumnsToContents(QTreeWidget* view, std::vector<int> elastic);

}  // namespace ui
