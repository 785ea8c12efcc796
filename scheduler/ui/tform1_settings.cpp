// Settings store of the main window's controls.
#include "scheduler/ui/svgeditini.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectSettings() {}

void TForm1::RestoreSettings() {
  // closeEvent saves again after FormClose itself, so the store does not take over the close.
  auto* store = new TSvgEditIni(
      this,
      [this] {
        std::vector<QObject*> components;
        for (const ComponentRegistry::Entry& e : Components().entries()) components.push_back(e.object);
        return components;
      },
      false);
  store->SauveComboBox = true;
  store->Loaded();
}

void TForm1::SaveSettings() {
  if (TSvgEditIni* store = TSvgEditIni::FindSvgEditIni(this)) store->SaveAll();
}

}  // namespace ui
