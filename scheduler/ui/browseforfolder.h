#pragma once
// The folder chooser of the timetable editor.
#include <QString>
#include <string>

class QWidget;

namespace ui {

struct BrowseOptions {
  bool editBox = false;         // a text field for the folder's name
  bool showFiles = false;       // files listed beside the folders
  bool allowNewFolder = false;  // a button that makes a new folder
};

// Shows a folder dialog opened on `folder` when it names an existing folder, else on `root`
// when that is one, else on the home folder. A chosen folder replaces `folder` and gives true;
// a cancelled dialog gives false and leaves `folder` as it was.
bool BrowseForFolder(QWidget* owner, const QString& title, const QString& root, std::string& folder,
                     BrowseOptions options = {});

}  // namespace ui
