#include "scheduler/ui/listimages.h"

#include <QTreeWidgetItem>

#include <map>
#include <string>

#include "scheduler/ui/pictures.h"

namespace ui {

namespace {

const char* MainImageName(int index) {
  switch (index) {
    case 0: return "row-ok";          // run ended
    case 1: return "row-info";
    case 2: return "row-warning";     // missing folder or computer, exception
    case 5: return "row-error";       // file or folder error
    case 6: return "row-notcopied";   // file not copied
    case 7: return "row-copied";      // file copied; timetable entry just saved
    case 9: return "row-entry";       // timetable entry
    default: return nullptr;
  }
}

const char* ViewerImageName(int index) {
  switch (index) {
    case 0: return "row-warning";  // " Erreur" line
    case 1: return "row-ok";       // run line
    case 2: return "row-error";    // " Erreur F " line
    default: return nullptr;
  }
}

}  // namespace

QIcon ListImage(int index, ImageList list) {
  const char* name = list == ImageList::Main ? MainImageName(index) : ViewerImageName(index);
  if (!name) return {};
  // One icon per image, shared by every row: an icon read anew for each row keeps its own
  // copy of the drawing, some kilobytes a row. Never freed, so that no icon outlives the
  // plugin that draws it.
  static auto* icons = new std::map<std::string, QIcon>;
  auto it = icons->find(name);
  if (it == icons->end()) it = icons->emplace(name, Picture(QString::fromLatin1(name))).first;
  return it->second;
}

void SetListImage(QTreeWidgetItem* item, int index, ImageList list) {
  item->setIcon(0, ListImage(index, list));
  item->setData(0, ListImageRole, index);
}

int ListImageOf(const QTreeWidgetItem* item) {
  QVariant v = item->data(0, ListImageRole);
  return v.isValid() ? v.toInt() : -1;
}

}  // namespace ui
