#pragma once
// A label that shows a long text (a path) elided in the middle, whole in its tool tip. Its
// text() stays the whole text, and it asks the layout for no width of its own.
class QLabel;

namespace ui {

void ElideInTheMiddle(QLabel* label);

}  // namespace ui
