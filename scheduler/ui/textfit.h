#pragma once
// Layouts may shrink a label, a check box or a button below its text (their size policy lets
// them): this keeps every such text whole, so a window grows rather than cuts its words.
#include <QSize>
#include <initializer_list>

class QLabel;
class QWidget;

namespace ui {

void KeepTextsWhole(QWidget* root);

// Labels in front of fields on successive rows: one width for all, so the fields line up.
void AlignLabelColumn(std::initializer_list<QLabel*> labels);

// What the window's layout needs at the window's current width, wrapped texts taking the lines
// they take at that width.
QSize NeededSize(const QWidget* window);

// Layouts learn that a part was shown or hidden one level per turn of the event loop: this tells
// every level above it at once, so that NeededSize counts it right away.
void ForgetSizesAbove(QWidget* changed);

// The window's minimum size: what its layout needs, and never less than floor; followed as
// the layout changes (a panel shown or hidden).
void KeepMinimumSize(QWidget* window, const QSize& floor);

}  // namespace ui
