// Due-time timer, dispatch timer, midnight clearing and the job queue of the main window.
#include <QTimer>

#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectQueue() {
  bind(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
  bind(Timer3, &QTimer::timeout, &TForm1::Timer3Timer);
  bind(Timer4, &QTimer::timeout, &TForm1::Timer4Timer);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{Button29, SpeedButton6})
    bind(b, &QAbstractButton::clicked, &TForm1::Button29Click);
  bind(esterlasauvegarde1, &QAction::triggered, &TForm1::Button29Click);
}

void TForm1::Timer1Timer() {}
void TForm1::Timer3Timer() {}
void TForm1::Timer4Timer() {}
void TForm1::Button29Click() {}

}  // namespace ui
