#include "scheduler/ui/listimages.h"

#include <QApplication>
#include <QStyle>
#include <QTreeWidgetItem>

namespace ui {

QIcon ListImage(int index) {
  QStyle* style = QApplication::style();
  if (!style) return {};
  switch (index) {
    case 0: return style->standardIcon(QStyle::SP_DialogApplyButton);   // run ended
    case 1: return style->standardIcon(QStyle::SP_FileIcon);            // logged run
    case 2: return style->standardIcon(QStyle::SP_MessageBoxWarning);   // missing folder, exception
    case 5: return style->standardIcon(QStyle::SP_MessageBoxCritical);  // file or folder error
    case 6: return style->standardIcon(QStyle::SP_DialogCancelButton);  // not copied
    case 7: return style->standardIcon(QStyle::SP_DialogSaveButton);    // copied
    default: return {};
  }
}

void SetListImage(QTreeWidgetItem* item, int index) {
  item->setIcon(0, ListImage(index));
  item->setData(0, ListImageRole, index);
}

int ListImageOf(const QTreeWidgetItem* item) {
  QVariant v = item->data(0, ListImageRole);
  return v.isValid() ? v.toInt() : -1;
}

}  // namespace ui
