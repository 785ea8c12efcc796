// Timetable file and schedule list of the main window.
#include <QHeaderView>

#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectTimetable() {
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button3, Button35})
    bind(b, &QAbstractButton::clicked, &TForm1::Button3Click);
  bind(Button4, &QAbstractButton::clicked, &TForm1::Button4Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button8, SpeedButton4})
    bind(b, &QAbstractButton::clicked, &TForm1::Button8Click);
  bind(Supprimer1, &QAction::triggered, &TForm1::Button8Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button30, SpeedButton5})
    bind(b, &QAbstractButton::clicked, &TForm1::Button30Click);
  bind(Copiedeligne1, &QAction::triggered, &TForm1::Button30Click);
  bind(ListView2, &QTreeWidget::itemClicked, &TForm1::ListView2Click);
  bind(ListBox1, &QListWidget::itemClicked, &TForm1::ListBox1Click);
  connect(ListView2->header(), &QHeaderView::sectionClicked, this,
          Guard([this](int column) { ListView2ColumnClick(column); }));
  connect(PageControl1, &QTabWidget::currentChanged, this, Guard([this](int index) {
            if (index == 3) TabSheet4Enter();
          }));
}

void TForm1::lirefiche(bool) {}
void TForm1::Button3Click() {}
void TForm1::TabSheet4Enter() {}
void TForm1::Button4Click() {}
void TForm1::DeleteAt(int) {}
void TForm1::Button8Click() {}
void TForm1::ListView2Click() {}
void TForm1::ListBox1Click() {}
void TForm1::ListView2ColumnClick(int) {}
int TForm1::ListView2Compare(const QTreeWidgetItem*, const QTreeWidgetItem*) { return 0; }
void TForm1::Button30Click() {}

}  // namespace ui
