// Timetable editor (the two-step wizard of pages 1 and 9).
#include <QTimer>

#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::connectEditor() {
  for (QLineEdit* e : {Edit13, Edit15, Edit14}) bind(e, &QLineEdit::textChanged, &TForm1::Button6Click);
  for (QSpinBox* s : {Spinheures, SpinMinutes}) bind(s, &QSpinBox::valueChanged, &TForm1::Button6Click);
  for (QCheckBox* c : {CheckBox10, CheckLundi, CheckMardi, CheckMercredi, CheckJeudi, CheckVendredi, CheckSamedi,
                       CheckDimanche, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8})
    bind(c, &QCheckBox::toggled, &TForm1::Button6Click);
  bind(Button6, &QAbstractButton::clicked, &TForm1::Button6Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{SpeedButton3, Button7})
    bind(b, &QAbstractButton::clicked, &TForm1::Button7Click);
  bind(JvXPBar7, &XPBar::clicked, &TForm1::Button7Click);
}

void TForm1::Button6Click() {}
void TForm1::Button7Click() {}

}  // namespace ui
