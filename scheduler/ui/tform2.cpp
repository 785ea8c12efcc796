#include "scheduler/ui/tform2.h"

#include <QHeaderView>

#include "scheduler/ui/slotguard.h"

namespace ui {

TForm2* Form2 = nullptr;
int HistorySortColumn = 0;

TForm2::TForm2(QWidget* parent) : QMainWindow(parent) {
  setupUi(this);
  connect(Listview1->header(), &QHeaderView::sectionClicked, this,
          Guard([this](int column) { Listview1ColumnClick(column); }));
  connect(shutJournal, &QPushButton::clicked, this, [this] { Guarded([this] { shutJournalClick(); }); });
  connect(Ouvrirfichiersjournaux1, &QAction::triggered, this,
          [this] { Guarded([this] { Ouvrirfichiersjournaux1Click(); }); });
}

void TForm2::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Guarded([this] { FormActivate(); });
}

void TForm2::Listview1ColumnClick(int) {}
int TForm2::Listview1Compare(const QTreeWidgetItem*, const QTreeWidgetItem*) { return 0; }
void TForm2::shutJournalClick() { hide(); }
void TForm2::Ouvrirfichiersjournaux1Click() {}
void TForm2::FormActivate() {}
void TForm2::Button2Click() {}

}  // namespace ui
