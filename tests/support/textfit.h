#pragma once
// Window tests: finds the texts a window shows only in part.
#include <QString>
#include <QStringList>

class QWidget;

namespace testenv {

// One line per visible label, check box, radio button, button, group box title or list
// column header under root (root included) whose text is cut: too narrow or too low for it,
// or lying partly outside one of its parents. Contents of scroll areas are judged against
// the scrolled page, not the viewport. Labels that elide their text on purpose (dynamic
// property "elidesText") must carry the whole text in their tool tip.
QStringList ClippedTexts(QWidget* root);

}  // namespace testenv
