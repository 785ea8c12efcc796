// Backup run and copy engine of the main window.
#include <QApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QTreeWidget>

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "scheduler/core/backuprun.h"
#include "scheduler/core/dailylog.h"
#include "scheduler/core/duetime.h"
#include "scheduler/core/jobline.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/panelstatusbar.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform4.h"
#include "scheduler/ui/trayicon.h"
#include "scheduler/ui/xpbar.h"

namespace ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

void ScrollDown(QTreeWidget* list) {
  QScrollBar* bar = list->verticalScrollBar();
  bar->setValue(bar->value() + 100);
}

// What the run shows, written into the main window and the prompt.
class FormRunView : public core::RunView {
 public:
  explicit FormRunView(TForm1& f) : f_(f) {}

  void RunStarted(const core::RunJob& job) override {
    f_.JvXPBar6->show();
    f_.JvXPBar3->hide();
    f_.SpeedButton9->setEnabled(true);
    f_.ListView3->clear();
    f_.RxTrayIcon1->setHint(f_.GroupBox4->title() + QChar(10) + Q(job.source) + " vers " + Q(job.target));
    f_.RxTrayIcon1->setAnimated(true);
  }

  void RunEnded(const core::RunJob&) override {
    f_.JvXPBar6->hide();
    f_.JvXPBar3->show();
    f_.SpeedButton9->setEnabled(false);
    f_.Edit3->clear();
    f_.Edit4->clear();
    f_.Edit2->clear();
    f_.CheckBox1->setChecked(false);
    f_.Label5->clear();
    // The schedule list's commands follow its selection: a row still selected keeps them on.
    const bool rowSelected = !f_.ListView2->selectedItems().isEmpty();
    for (QWidget* w : std::initializer_list<QWidget*>{f_.Button29, f_.Button30, f_.Button8, f_.SpeedButton4,
                                                      f_.SpeedButton5, f_.SpeedButton6})
      w->setEnabled(rowSelected);
    f_.RxTrayIcon1->setAnimated(false);
    f_.RxTrayIcon1->setHint("Quillomet");
  }

  void IdleMarker(bool idle) override { f_.Edit12->setText(idle ? "true" : "false"); }

  void Panel(int index, std::int32_t value) override {
    QLabel* caption = index == 0 ? f_.Label19 : index == 1 ? f_.Label20 : f_.Label21;
    const QString text = caption->text() + " : " + QString::number(value);
    f_.StatusBar1->setPanelText(index, text);
    if (!Form4) return;
    if (index == 0) Form4->Label7->setText(text);
    if (index == 2) Form4->Label8->setText(text);
  }

  void CurrentFile(const std::string& path) override {
    f_.Label5->setText(Q(path));
    if (Form4) Form4->Label5->setText(Q(std::filesystem::path(path).filename().string()));
  }

  void Progress(int percent) override { f_.ProgressBar->setValue(percent); }

  void Reported(const core::LastRunRow& r) override {
    if (Form4) Form4->Label6->setText(Q(r.message));
    auto* item = new QTreeWidgetItem(f_.ListView3);
    SetListImage(item, r.image);
    item->setText(1, Q(r.number));
    item->setText(2, Q(r.source));
    item->setText(3, Q(r.target));
    item->setText(4, Q(r.message));
    item->setText(5, Q(r.error));
    ScrollDown(f_.ListView3);
  }

  void History(const core::HistoryRow& row) override { f_.AddHistoryRow(row); }

  void RaiseAlerts(const std::string& text) override { f_.RaiseAlerts(text); }

 private:
  TForm1& f_;
};

core::RunJob JobOf(const TForm1& f) {
  return core::RunJob{S(f.Edit3->text()), S(f.Edit4->text()), S(f.Edit2->text()), f.CheckBox1->isChecked(),
                      f.CheckBox13->isChecked()};
}

// Access-denied rows of the last-run list (EACCES, EPERM).
bool AccessDenied(const QString& error) {
  return error == QString::number(EACCES) || error == QString::number(EPERM);
}

}  // namespace

struct TForm1::RunParts {
  explicit RunParts(TForm1& f) : view(f), log(DataFolder), run(f.ScruteDossier1, view, log, false) {
    run.LoggingOn = [&f] { return f.CheckBox_12->isChecked(); };
    run.Pump = f.ScruteDossier1.Pump;
    run.CopyThreshold = CopyThreshold;
    run.Network = &f.Network();
  }
  FormRunView view;
  core::DailyLog log;
  core::BackupRun run;
};

core::BackupRun& TForm1::BackupRun() {
  if (!run_) run_ = {new RunParts(*this), [](RunParts* p) { delete p; }};
  return run_->run;
}

bool TForm1::RunBusy() const { return (run_ && run_->run.Busy()) || ScruteDossier1.Running; }

void TForm1::connectRun() {
  bind(Button1, &QAbstractButton::clicked, &TForm1::Button1Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button2, SpeedButton9})
    bind(b, &QAbstractButton::clicked, &TForm1::Button2Click);
  bind(Arrterlacopie1, &QAction::triggered, &TForm1::Button2Click);
  bind(JvXPBar6, &XPBar::clicked, &TForm1::Button2Click);
  bind(SpeedButton12, &QAbstractButton::clicked, &TForm1::Button11Click);
  bind(JvXPBar3, &XPBar::clicked, &TForm1::Button11Click);
  bind(SpeedButton13, &QAbstractButton::clicked, &TForm1::SpeedButton13Click);
  bind(SpeedButton14, &QAbstractButton::clicked, &TForm1::SpeedButton14Click);
  bind(SpeedButton15, &QAbstractButton::clicked, &TForm1::SpeedButton15Click);
  // The walker calls these inside its Execute, which already runs in a guarded slot.
  ScruteDossier1.OnExecute = [this](core::TScruteDossier*) { ScruteDossier1Execute(); };
  ScruteDossier1.OnDossier = [this](core::TScruteDossier*, const std::string& Nom) { ScruteDossier1Dossier(Nom); };
  ScruteDossier1.OnFichier = [this](core::TScruteDossier*, const std::string& Nom) { ScruteDossier1Fichier(Nom); };
  ScruteDossier1.OnFinExecute = [this](core::TScruteDossier*) { ScruteDossier1FinExecute(); };
  ScruteDossier1.OnErreur = [this](core::TScruteDossier*, const std::string& Nom, int error) {
    BackupRun().FolderUnreadable(Nom, error);
  };
}

void TForm1::Button1Click() {
  switch (BackupRun().Start(JobOf(*this), Edit12->text() == "true")) {
    case core::StartResult::SameFolder:
      QMessageBox::warning(this, "Quillomet", Label44->text());
      break;
    case core::StartResult::SystemRoot:
      QMessageBox::warning(this, "Quillomet", Label45->text());
      break;
    default:
      break;
  }
}

void TForm1::Button13Click() { BackupRun().Preflight(JobOf(*this)); }

void TForm1::ScruteDossier1Execute() { BackupRun().WalkStarted(); }
void TForm1::ScruteDossier1Dossier(const std::string& Nom) { BackupRun().FolderFound(Nom); }
void TForm1::ScruteDossier1Fichier(const std::string& Nom) { BackupRun().FileFound(&ScruteDossier1, Nom); }
void TForm1::ScruteDossier1FinExecute() { BackupRun().WalkEnded(); }

void TForm1::lisstajoutvz(const std::string& number, const std::string& code, const std::string& target,
                          const std::string& source, const std::string& message, const std::string& errorNumber) {
  BackupRun().Report(number, code == "6" ? 6 : 7, target, source, message, errorNumber);
}

// The one copy routine: temp file in the target folder, renamed over the target when complete.
void TForm1::Copierplus(const std::string& source, const std::string& target) {
  struct stat st;
  std::uint64_t size = ::stat(source.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  ProgressBar->setMaximum(100);
  BackupRun().CopyOne(source, target, size);
}

void TForm1::Button2Click() { ScruteDossier1.Stop = true; }

void TForm1::Button11Click() {
  if (Edit12->text() != "true" || RunBusy()) {
    QMessageBox::information(this, "Quillomet", Label46->text());
    return;
  }
  Edit4->setText(Edit14->text());
  Edit3->setText(Edit13->text());
  const std::string target = S(Edit4->text());
  if (target.find(core::kUsbMarker) != std::string::npos) {
    // A USB entry: the folder named after the source's last folder on that volume.
    Edit4->setText(Q(MakeUsbJobFolder(S(Edit3->text()), target)));
  }
  Edit2->setText(Edit15->text());
  CheckBox1->setChecked(CheckBox10->isChecked());
  CheckBox13->setChecked(CheckBox12->isChecked());
  switch (BackupRun().StartFromEditor(JobOf(*this))) {
    case core::StartResult::SystemRoot:
      QMessageBox::warning(this, "Quillomet", Label45->text());
      break;
    case core::StartResult::SameFolder:
      QMessageBox::warning(this, "Quillomet", Label44->text());
      break;
    default:
      break;
  }
}

void TForm1::SpeedButton13Click() { ListView3->clear(); }

namespace {

// Gives back the owner-write bit to the sources (column 2) or targets (column 3) of the
// access-denied rows.
void ClearReadOnly(QTreeWidget* list, QProgressBar* bar, int column) {
  const int rows = list->topLevelItemCount();
  bar->setMaximum(rows - 1);
  bar->setValue(0);
  for (int i = 0; i < rows; ++i) {
    bar->setValue(i);
    QTreeWidgetItem* item = list->topLevelItem(i);
    if (!AccessDenied(item->text(5))) continue;
    const std::string path = S(item->text(column));
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }
  bar->setValue(0);
}

}  // namespace

void TForm1::SpeedButton14Click() { ClearReadOnly(ListView3, ProgressBar1, 2); }
void TForm1::SpeedButton15Click() { ClearReadOnly(ListView3, ProgressBar1, 3); }

}  // namespace ui
