// History list, daily logs, log purge and the application-wide exception handler.
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

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

void TForm1::Button12Click() {}
void TForm1::Button14Click() {}
void TForm1::ScruteDossier2Fichier(const std::string&) {}
void TForm1::Voirfichiersjournaux1Click() {}
void TForm1::ApplicationEvents1Exception(const std::exception&) {}

}  // namespace ui
