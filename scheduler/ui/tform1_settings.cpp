// Settings store of the main window's controls.
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectSettings() {}

void TForm1::RestoreSettings() {}
void TForm1::SaveSettings() {}

}  // namespace ui
