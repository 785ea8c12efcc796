#pragma once
// Qt's own dialogs and buttons in French (the installed qtbase_fr translation).
class QCoreApplication;

namespace ui {

// Installs the translation on the application; false when it is not installed.
bool LoadQtFrench(QCoreApplication& app);

}  // namespace ui
