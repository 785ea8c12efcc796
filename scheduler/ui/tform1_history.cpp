// History list, daily logs, log purge and the application-wide exception handler.
#include <QFileDialog>
#include <QFileInfo>
#include <QScrollBar>
#include <QTreeWidget>

#include <cstdio>
#include <ctime>

#include "scheduler/core/dailylog.h"
#include "scheduler/core/fields.h"
#include "scheduler/core/history.h"
#include "scheduler/core/logpurge.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform2.h"

namespace ui {

void TForm1::connectHistory() {
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button12, SpeedButton7})
    bind(b, &QAbstractButton::clicked, &TForm1::Button12Click);
  bind(Viderlhistoriquedessauvegardes1, &QAction::triggered, &TForm1::Button12Click);
  bind(Button14, &QAbstractButton::clicked, &TForm1::Button14Click);
  bind(Supprimerlesfichiersjournaux1, &QAction::triggered, &TForm1::Button14Click);
  bind(Voirfichiersjournaux1, &QAction::triggered, &TForm1::Voirfichiersjournaux1Click);
  ScruteDossier2.OnFichier = [this](core::TScruteDossier*, const std::string& Nom) { ScruteDossier2Fichier(Nom); };
  SetExceptionHandler([this](const std::exception& e) { ApplicationEvents1Exception(e); });
}

void TForm1::AppendDailyLog(const std::string& line) { core::DailyLog(DataFolder).Append(line); }

void TForm1::AddHistoryRow(const core::HistoryRow& row) {
  auto* item = new QTreeWidgetItem(ListView1);
  SetListImage(item, row.image);
  for (std::size_t i = 0; i < row.texts.size(); ++i)
    item->setText(static_cast<int>(i) + 1, QString::fromStdString(row.texts[i]));
  QScrollBar* bar = ListView1->verticalScrollBar();
  bar->setValue(bar->value() + 100);
}

void TForm1::Button12Click() { ListView1->clear(); }

void TForm1::Button14Click() {
  if (!CheckBox_15->isChecked()) return;
  ScruteDossier2.Dossier = DataFolder;
  ScruteDossier2.Filtre = "*.log";
  ScruteDossier2.Execute();
}

void TForm1::ScruteDossier2Fichier(const std::string& Nom) {
  core::PurgeLogFile(Nom, ScruteDossier2.CurrentMTime, std::time(nullptr), SpinEdit_1->value());
}

void TForm1::Voirfichiersjournaux1Click() {
  QWidget* parent = Form2 && Form2->isVisible() ? static_cast<QWidget*>(Form2) : this;
  const QString path = PickLogFile(parent, QString::fromStdString(DataFolder));
  if (path.isEmpty() || !Form2) return;
  Form2->ShowLog(path.toStdString());
}

void TForm1::ApplicationEvents1Exception(const std::exception& e) {
  // A failure inside this handler (its own log line, the mail) must not come back into it.
  static bool inside = false;
  if (inside) {
    std::fprintf(stderr, "Quillomet: %s\n", e.what());
    return;
  }
  inside = true;
  struct Leave {
    ~Leave() { inside = false; }
  } leave;

  const std::string t = core::TimeText(core::LocalTime(std::time(nullptr)));
  const std::string current = Label5->text().toStdString();
  if (CheckBox_12->isChecked()) {
    try {
      AppendDailyLog(core::ExceptionLogLine(t, e.what(), current));
    } catch (const std::exception& logError) {
      std::fprintf(stderr, "Quillomet: %s\n", logError.what());
    }
  }
  const std::string mailText = std::string(e.what()) + " " + Edit3->text().toStdString() + " " + Edit4->text().toStdString();
  Guarded([this, &mailText] { RaiseExceptionAlert(mailText); });
  if (!ScruteDossier1.Running) Edit12->setText("true");
  AddHistoryRow(core::ExceptionRow(t, e.what(), current));
}

}  // namespace ui
