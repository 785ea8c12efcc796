// Alerts: sound, window and e-mail.
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectAlerts() {
  bind(SpeedButton17, &QAbstractButton::clicked, &TForm1::SpeedButton17Click);
  bind(Button34, &QAbstractButton::clicked, &TForm1::Button34Click);
}

void TForm1::SpeedButton17Click() {}
void TForm1::Button34Click() {}

}  // namespace ui
