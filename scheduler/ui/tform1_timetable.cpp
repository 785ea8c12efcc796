// Timetable file and schedule list of the main window.
#include <QByteArray>
#include <QHeaderView>
#include <QStringDecoder>
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
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {
namespace {

std::string ScheduleFilePath() { return DataFolder + core::kScheduleFileName; }

// Shown text of file bytes in the list view: UTF-8, or Latin-1 where they are not UTF-8; cut
// when very long.
QString Shown(const std::string& bytes) {
  bool cut = false;
  const std::string_view part = ShownPart(bytes, &cut);
  QByteArray raw(part.data(), static_cast<qsizetype>(part.size()));
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(raw);
  if (utf8.hasError()) text = QString::fromLatin1(raw);
  if (cut) text += QString::fromUtf8(kCutMark);
  return text;
}

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
  bind(ListBox1, &QListWidget::itemClicked, &TForm1::ListBox1Click);
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
  ListBox1->clear();
  ListView2->clear();
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
  for (size_t i = 0; i < load.lines.size(); ++i) {
    const std::string& line = load.lines[i];
    if (auto row = core::ScheduleRowOf(i, line)) {
      auto* item = new QTreeWidgetItem(ListView2);
      SetListImage(item, 9);
      const std::string* texts[] = {&row->caption, &row->heures, &row->source, &row->cible,
                                    &row->filtre,  &row->sousRepertoires, &row->bdd};
      for (int c = 0; c < 7; ++c) item->setText(c, Shown(*texts[c]));
    }
    AddItemText(*ListBox1, line);  // the line's bytes as the file holds them
  }
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
  if (!core::SaveScheduleFile(ScheduleFilePath(), ItemTexts(*ListBox1), &error)) {
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
  std::vector<std::string> lines = ItemTexts(*ListBox1);
  if (index < 0 || !core::DeleteScheduleLine(lines, static_cast<size_t>(index))) return;
  ListBox1->clear();
  for (const std::string& line : lines) AddItemText(*ListBox1, line);
  const QString caption = QString::fromStdString(core::ScheduleCaption(static_cast<size_t>(index)));
  for (int i = ListView2->topLevelItemCount() - 1; i >= 0; --i) {
    if (ListView2->topLevelItem(i)->text(0) == caption) delete ListView2->takeTopLevelItem(i);
  }
}

void TForm1::Button8Click() {
  // The entry shown by the selected row goes, whatever was clicked before.
  QTreeWidgetItem* row = FirstSelectedRow(ListView2);
  if (!row) return;
  bool ok = false;
  const int index = row->text(0).toInt(&ok);
  if (!ok || index < 0 || index >= ListBox1->count()) return;
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
  if (!ok || index < 0 || index >= ListBox1->count()) {
    ListBox1->setCurrentRow(-1);
    Button29->setEnabled(false);
    return;
  }
  ListBox1->setCurrentRow(index);
  const core::ScheduleLine e = core::ScheduleLine::Parse(ItemText(*ListBox1->item(index)));
  Edit10->setText(QString::number(index));
  Edit5->setText(Shown(e.minutes));
  Edit6->setText(Shown(e.hours));
  QCheckBox* days[] = {CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8};
  for (int d = 0; d < 7; ++d) days[d]->setChecked(e.days[d] == "1");
  Edit7->setText(Shown(e.source));
  Edit8->setText(Shown(e.filter));
  Edit11->setText(Shown(e.target));
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
  std::vector<QTreeWidgetItem*> rows;
  std::vector<QTreeWidgetItem*> selected;
  while (ListView2->topLevelItemCount() > 0) {
    QTreeWidgetItem* row = ListView2->topLevelItem(0);
    if (row->isSelected()) selected.push_back(row);
    rows.push_back(ListView2->takeTopLevelItem(0));
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [this](const QTreeWidgetItem* a, const QTreeWidgetItem* b) { return ListView2Compare(a, b) < 0; });
  for (QTreeWidgetItem* row : rows) ListView2->addTopLevelItem(row);
  for (QTreeWidgetItem* row : selected) row->setSelected(true);
}

int TForm1::ListView2Compare(const QTreeWidgetItem* item1, const QTreeWidgetItem* item2) {
  // Column 0 is the caption; column c > 0 shows sub-item c - 1.
  return core::CompareText(item1->text(SortColumn).toStdString(), item2->text(SortColumn).toStdString());
}

void TForm1::Button30Click() {
  if (!FirstSelectedRow(ListView2)) return;
  PageControl1->setCurrentIndex(1);
  Button36Click();
}

}  // namespace ui
