#include "scheduler/ui/tform2.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>

#include <stdexcept>

#include "scheduler/core/history.h"
#include "scheduler/core/logview.h"
#include "scheduler/ui/listcolumns.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/pictures.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

TForm2* Form2 = nullptr;
int HistorySortColumn = 0;

std::function<QString(QWidget*, const QString&)> PickLogFile = [](QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileName(parent, QString(), folder, "Fichiers journaux (*.log)");
};

namespace {

// A row that sorts through the viewer's own comparison.
class LogItem : public QTreeWidgetItem {
 public:
  LogItem(QTreeWidget* list, TForm2* viewer) : QTreeWidgetItem(list), viewer_(viewer) {}
  bool operator<(const QTreeWidgetItem& other) const override { return viewer_->Listview1Compare(this, &other) < 0; }

 private:
  TForm2* viewer_;
};

}  // namespace

TForm2::TForm2(QWidget* parent) : QMainWindow(parent) {
  setupUi(this);
  setWindowIcon(ProgramIcon());
  FitColumnsToContents(Listview1, {2, 3, 4});
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

void TForm2::Listview1ColumnClick(int column) {
  HistorySortColumn = column;
  Listview1->sortItems(column, Qt::AscendingOrder);
}

// Column 0 compares the captions, column c the sub-items c - 1: in the list, both are the
// texts of column c.
int TForm2::Listview1Compare(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2) {
  return core::CompareAsciiNoCase(item1->text(HistorySortColumn).toStdString(),
                                  item2->text(HistorySortColumn).toStdString());
}

void TForm2::shutJournalClick() { hide(); }

void TForm2::Ouvrirfichiersjournaux1Click() {
  if (Form1) Form1->Voirfichiersjournaux1Click();
}

void TForm2::FormActivate() {}
void TForm2::Button2Click() {}

void TForm2::ShowLog(const std::string& path) {
  setWindowTitle(QString::fromStdString(core::ViewerCaption(QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString())));
  Listview1->clear();
  Label1->hide();
  const core::LogView log = core::ReadLogForViewer(path);
  for (const core::HistoryRow& row : log.rows) {
    auto* item = new LogItem(Listview1, this);
    SetListImage(item, row.image, ImageList::Viewer);
    for (std::size_t i = 0; i < row.texts.size(); ++i)
      item->setText(static_cast<int>(i) + 1, QString::fromStdString(row.texts[i]));
  }
  const std::string notice = core::LogViewNotice(log);
  Label1->setText(QString::fromStdString(notice));
  Label1->setVisible(!notice.empty());
  show();
}

}  // namespace ui
