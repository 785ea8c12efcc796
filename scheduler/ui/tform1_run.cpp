// Backup run and copy engine of the main window.
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

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
}

void TForm1::Button1Click() {}
void TForm1::Button13Click() {}
void TForm1::ScruteDossier1Execute() {}
void TForm1::ScruteDossier1Dossier(const std::string&) {}
void TForm1::ScruteDossier1Fichier(const std::string&) {}
void TForm1::ScruteDossier1FinExecute() {}
void TForm1::lisstajoutvz(const std::string&, const std::string&, const std::string&, const std::string&,
                          const std::string&, const std::string&) {}
void TForm1::Copierplus(const std::string&, const std::string&) {}
void TForm1::Button2Click() {}
void TForm1::Button11Click() {}
void TForm1::SpeedButton13Click() {}
void TForm1::SpeedButton14Click() {}
void TForm1::SpeedButton15Click() {}

}  // namespace ui
