// Due-time timer, dispatch timer, midnight clearing and the job queue of the main window.
#include <QTimer>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "scheduler/core/duetime.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/jobline.h"
#include "scheduler/core/workingset.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform4.h"

namespace ui {

namespace {

constexpr char kProgramName[] = "Quillomet";

}  // namespace

void TForm1::connectQueue() {
  bind(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
  bind(Timer3, &QTimer::timeout, &TForm1::Timer3Timer);
  bind(Timer4, &QTimer::timeout, &TForm1::Timer4Timer);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button29, SpeedButton6})
    bind(b, &QAbstractButton::clicked, &TForm1::Button29Click);
  bind(esterlasauvegarde1, &QAction::triggered, &TForm1::Button29Click);
}

void TForm1::Timer1Timer() {
  Timer1->setInterval(60000);
  Button3Click();
  const std::vector<std::string>& lines = ScheduleLines;
  // Each clock minute once, with the minutes a late tick skipped.
  for (std::time_t minute : dueMinutes_.MinutesFor(Clock())) {
    for (const std::string& job : core::DueJobs(lines, core::LocalTime(minute))) AddItemText(*ListBox3, job);
  }
  core::ReleaseProcessMemory(kProgramName);
}

void TForm1::Timer3Timer() {
  // The idle marker alone may already say "true" while a stopped walk unwinds or while a
  // pre-flight pumps events: the run's own busy flag decides too.
  if (!core::DispatchAllowed(Edit12->text().toStdString(), RunBusy())) return;
  if (ListBox3->count() == 0) {
    Edit21->setText(QStringLiteral("rien"));
    return;
  }
  Edit21->clear();
  const core::Job job = core::ReadJobLine(ItemText(*ListBox3->item(0)));
  Edit3->setText(QString::fromStdString(job.source));
  Edit2->setText(QString::fromStdString(job.filter));
  Edit4->setText(QString::fromStdString(job.target));
  if (Form4) Form4->Label3->setText(Edit4->text());
  CheckBox1->setChecked(job.subFolders);
  CheckBox13->setChecked(job.overwrite);
  // The job leaves the queue before the start guards: one they refuse does not come back.
  delete ListBox3->takeItem(0);
  Button1Click();
}

void TForm1::Timer4Timer() {
  if (core::CoversMidnight(midnightMinutes_, Clock())) Button12Click();
}

void TForm1::Button29Click() {
  // From the last row up, so the lowest selected row runs first.
  for (int i = ListView2->topLevelItemCount() - 1; i >= 0; --i) {
    const QTreeWidgetItem* row = ListView2->topLevelItem(i);
    if (!row->isSelected()) continue;
    auto subItem = [row](int n) { return row->text(n + 1).toStdString(); };
    const std::string source = subItem(1), target = subItem(2), filter = subItem(3);
    const bool sub = subItem(4) == "oui", bdd = subItem(5) == "oui";
    const bool usb = target.find(core::kUsbMarker) != std::string::npos;
    const std::string folder = usb ? MakeUsbJobFolder(source, target) : target;
    AddItemText(*ListBox3, core::TestJobLine(source, folder, filter, sub, bdd));
  }
}

}  // namespace ui
