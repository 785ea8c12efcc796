#include "scheduler/ui/tform2.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>

#include <algorithm>

#include "scheduler/core/history.h"
#include "scheduler/core/logview.h"
#include "scheduler/ui/listcolumns.h"
#include "scheduler/ui/pictures.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

TForm2* Form2 = nullptr;
int HistorySortColumn = 0;

std::function<QString(QWidget*, const QString&)> PickLogFile = [](QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileName(parent, QString(), folder, "Fichiers journaux (*.log)");
};

TForm2::TForm2(QWidget* parent) : QMainWindow(parent) {
  setupUi(this);
  setWindowIcon(ProgramIcon());
  rows_ = new LogListModel({".", "Heures", "Source", "Cible", "Filtre", "Sous répertoire"}, this);
  Listview1->setModel(rows_);
  // Rows of one line, as high as their text or image; the view never measures them one by one.
  QHeaderView* rowHeader = Listview1->verticalHeader();
  rowHeader->setSectionResizeMode(QHeaderView::Fixed);
  rowHeader->setMinimumSectionSize(1);
  rowHeader->setDefaultSectionSize(std::max(Listview1->fontMetrics().height(), Listview1->iconSize().height()) + 6);
  // The times stay whole; the paths and messages give up room first.
  FitColumnsToContents(Listview1, {2, 3, 4}, {1});
  connect(Listview1->horizontalHeader(), &QHeaderView::sectionClicked, this,
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
  rows_->sort(column, Qt::AscendingOrder);
}

// Column 0 compares the captions (all empty), column c the sub-items c - 1, which the list
// shows in column c.
int TForm2::Listview1Compare(const QModelIndex& item1, const QModelIndex& item2) const {
  return rows_->log().compare(static_cast<std::size_t>(item1.row()), static_cast<std::size_t>(item2.row()),
                              HistorySortColumn);
}

void TForm2::shutJournalClick() { hide(); }

void TForm2::Ouvrirfichiersjournaux1Click() {
  if (Form1) Form1->Voirfichiersjournaux1Click();
}

void TForm2::FormActivate() {}
void TForm2::Button2Click() {}

void TForm2::ShowLog(const std::string& path) {
  setWindowTitle(QString::fromStdString(core::ViewerCaption(QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString())));
  rows_->setLog({});  // the old log goes before the new one is read
  Label1->hide();
  core::LogView log = core::LogView::Read(path);
  const std::string notice = core::LogViewNotice(log);
  rows_->setLog(std::move(log));
  Label1->setText(QString::fromStdString(notice));
  Label1->setVisible(!notice.empty());
  show();
}

}  // namespace ui
