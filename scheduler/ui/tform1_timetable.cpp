// Timetable file and schedule list of the main window.
#include <QByteArray>
#include <QHeaderView>
#include <QStyle>

#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/files.h"
#include "scheduler/core/timetable.h"
#include "scheduler/ui/listcolumns.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/schedulerows.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {
namespace {

std::string ScheduleFilePath() { return DataFolder + core::kScheduleFileName; }

// First selected row in the order the list shows, or none.
QTreeWidgetItem* FirstSelectedRow(const QTreeWidget* view) {
  for (int i = 0; i < view->topLevelItemCount(); ++i) {
    if (view->topLevelItem(i)->isSelected()) return view->topLevelItem(i);
  }
  return nullptr;
}

}  // namespace

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
  // A selection made with the keyboard loads the entry too, so the fields always show the
  // selected row.
  bind(ListView2, &QTreeWidget::itemSelectionChanged, &TForm1::ListView2Click);
  // A click on the row already selected loads it again (and turns the commands back on).
  bind(ListView2, &QTreeWidget::itemClicked, &TForm1::ListView2Click);
  connect(ListView2->header(), &QHeaderView::sectionClicked, this,
          Guard([this](int column) { ListView2ColumnClick(column); }));
  connect(PageControl1, &QTabWidget::currentChanged, this, Guard([this](int index) {
            if (index == 3) TabSheet4Enter();
          }));

  ListView2->setSortingEnabled(false);
  ListView2->setRootIsDecorated(false);
  ListView2->header()->setSectionsClickable(true);
  FitColumnsToContents(ListView2, {2, 3});
}

void TForm1::lirefiche(bool reload) {
  ListView2->clear();  // first: the rows read the lines
  ScheduleLines.clear();
  if (!reload) return;
  core::ScheduleLoad load = core::LoadScheduleFile(ScheduleFilePath());
  if (load.created) {
    // First run: land in the editor.
    setVisible(true);
    PageControl1->setCurrentIndex(1);
  }
  if (!load.ok) {
    // Reported like any failure, but start-up and the timer tick that reload go on.
    HandleException(std::runtime_error(load.errorText));
    return;
  }
  ScheduleLines = std::move(load.lines);
  // The rows go in at once: one insertion per row costs the list a notice each.
  QList<QTreeWidgetItem*> rows;
  for (size_t i = 0; i < ScheduleLines.size(); ++i)
    if (core::HasScheduleRow(ScheduleLines[i])) rows.append(new ScheduleRowItem(ScheduleLines, i));
  ListView2->addTopLevelItems(rows);
}

std::int64_t ScheduleFileTimeNow() {
  struct stat st;
  if (::stat(ScheduleFilePath().c_str(), &st) != 0) return 0;
  return std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void TForm1::Button3Click() {
  // A hand edit may keep the size (12 changed to 13): the modification time tells it too.
  const std::int32_t size = platform::FileSizeOf(ScheduleFilePath());
  const std::int64_t time = ScheduleFileTimeNow();
  if (size == ScheduleFileSize && time == ScheduleFileTime) return;
  ScheduleFileSize = size;
  ScheduleFileTime = time;
  lirefiche(true);
}

void TForm1::TabSheet4Enter() { Button3Click(); }

void TForm1::Button4Click() {
  std::string error;
  if (!core::SaveScheduleFile(ScheduleFilePath(), ScheduleLines, &error)) {
    // The file kept its old lines: show them again, then report the failed save.
    ScheduleFileSize = platform::FileSizeOf(ScheduleFilePath());
    ScheduleFileTime = ScheduleFileTimeNow();
    try {
      lirefiche(true);
    } catch (const std::exception&) {
    }
    throw std::runtime_error(error);
  }
  Button3Click();
}

void TForm1::DeleteAt(int index) {
  const size_t count = ScheduleLines.size();
  if (index < 0 || !core::DeleteScheduleLine(ScheduleLines, static_cast<size_t>(index))) return;
  const size_t deleted = static_cast<size_t>(index);
  const bool shifted = ScheduleLines.size() < count;  // the lines below moved up one
  const QString caption = QString::fromStdString(core::ScheduleCaption(deleted));
  for (int i = ListView2->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* row = ListView2->topLevelItem(i);
    auto* entry = row->type() == ScheduleRowItem::Type ? static_cast<ScheduleRowItem*>(row) : nullptr;
    if (entry ? entry->line() == deleted : row->text(0) == caption) {
      delete ListView2->takeTopLevelItem(i);
    } else if (entry && shifted && entry->line() > deleted) {
      entry->setLine(entry->line() - 1);
    }
  }
  ListView2->viewport()->update();
}

void TForm1::Button8Click() {
  // The entry shown by the selected row goes, whatever was clicked before.
  QTreeWidgetItem* row = FirstSelectedRow(ListView2);
  if (!row) return;
  bool ok = false;
  const int index = row->text(0).toInt(&ok);
  if (!ok || index < 0 || static_cast<size_t>(index) >= ScheduleLines.size()) return;
  DeleteAt(index);
  Button4Click();
}

void TForm1::ListView2Click() {
  if (FirstSelectedRow(ListView2)) {
    ListBox1Click();
    return;
  }
  for (QWidget* w : std::initializer_list<QWidget*>{Button29, Button8, Button30, SpeedButton4, SpeedButton5, SpeedButton6})
    w->setEnabled(false);
}

void TForm1::ListBox1Click() {
  QTreeWidgetItem* row = FirstSelectedRow(ListView2);
  if (!row) return;
  bool ok = false;
  const int index = row->text(0).toInt(&ok);
  if (!ok || index < 0 || static_cast<size_t>(index) >= ScheduleLines.size()) {
    Button29->setEnabled(false);
    return;
  }
  const core::ScheduleLine e = core::ScheduleLine::Parse(ScheduleLines[static_cast<size_t>(index)]);
  Edit10->setText(QString::number(index));
  Edit5->setText(ShownFileText(e.minutes));
  Edit6->setText(ShownFileText(e.hours));
  QCheckBox* days[] = {CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8};
  for (int d = 0; d < 7; ++d) days[d]->setChecked(e.days[d] == "1");
  Edit7->setText(ShownFileText(e.source));
  Edit8->setText(ShownFileText(e.filter));
  Edit11->setText(ShownFileText(e.target));
  // Each box follows its field: an entry without sub-folders clears them.
  CheckBox9->setChecked(e.subFolders == "1");
  CheckBox10->setChecked(e.subFolders == "1");
  CheckBox12->setChecked(e.overwrite == "1");
  Edit13->setText(Edit7->text());
  Edit14->setText(Edit11->text());
  Edit15->setText(Edit8->text());
  for (QWidget* w : std::initializer_list<QWidget*>{Button29, Button8, Button30, SpeedButton4, SpeedButton5, SpeedButton6})
    w->setEnabled(true);
}

void TForm1::ListView2ColumnClick(int column) {
  SortColumn = column;
  const QSignalBlocker quiet(ListView2);  // moving rows is no new selection
  const QList<QTreeWidgetItem*> selected = ListView2->selectedItems();
  // Each row's text is read once (a row makes its texts on demand) and the rows move in one
  // go (rows taken one by one from the top cost the square of their number).
  struct Keyed {
    std::string text;
    QTreeWidgetItem* row;
  };
  std::vector<Keyed> rows;
  rows.reserve(static_cast<size_t>(ListView2->topLevelItemCount()));
  for (QTreeWidgetItem* row : ListView2->invisibleRootItem()->takeChildren())
    rows.push_back({row->text(SortColumn).toStdString(), row});
  std::stable_sort(rows.begin(), rows.end(),
                   [this](const Keyed& a, const Keyed& b) { return ListView2Compare(a.text, b.text) < 0; });
  QList<QTreeWidgetItem*> sorted;
  sorted.reserve(static_cast<qsizetype>(rows.size()));
  for (const Keyed& k : rows) sorted.append(k.row);
  ListView2->addTopLevelItems(sorted);
  for (QTreeWidgetItem* row : selected) row->setSelected(true);
}

int TForm1::ListView2Compare(std::string_view text1, std::string_view text2) const {
  return core::CompareText(text1, text2);
}

void TForm1::Button30Click() {
  if (!FirstSelectedRow(ListView2)) return;
  PageControl1->setCurrentIndex(1);
  Button36Click();
}

}  // namespace ui
