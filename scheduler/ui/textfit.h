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

// The window's minimum size: what its layout needs, and never less than floor; followed as
// the layout changes (a panel shown or hidden).
void KeepMinimumSize(QWidget* window, const QSize& floor);

}  // namespace ui
