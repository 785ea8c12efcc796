// Network computers and share reconnection.
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectNetwork() {
  bind(Button24, &QAbstractButton::clicked, &TForm1::Button24Click);
  bind(Button25, &QAbstractButton::clicked, &TForm1::Button25Click);
}

void TForm1::Button24Click() {}
void TForm1::Button25Click() {}

}  // namespace ui
