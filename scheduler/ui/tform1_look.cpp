// Pictures of the main window and the layout details the form description cannot say.
#include <QGridLayout>
#include <QLayout>

#include "scheduler/ui/elidedlabel.h"
#include "scheduler/ui/listcolumns.h"
#include "scheduler/ui/pictures.h"
#include "scheduler/ui/textfit.h"
#include "scheduler/ui/tform1.h"

namespace ui {

void TForm1::applyLook() {
  setWindowIcon(ProgramIcon());
  const std::pair<TransparentButton*, const char*> navigation[] = {
      {JvTransparentButton3, "nav-historique"}, {JvTransparentButton2, "nav-programmer"},
      {JvTransparentButton4, "nav-liste"},      {JvTransparentButton1, "nav-reseaux"},
      {JvTransparentButton5, "nav-configurer"}, {JvTransparentButton6, "nav-fichiers"},
      {JvTransparentButton7, "nav-miseajour"},  {JvTransparentButton8, "nav-aide"}};
  for (const auto& [button, picture] : navigation) button->setPicture(Picture(QString::fromLatin1(picture)));
  SpeedButton17->setIcon(Picture(QStringLiteral("sound-play")));
  SpeedButton18->setIcon(Picture(QStringLiteral("sound-beep")));
  SpeedButton19->setIcon(Picture(QStringLiteral("window-show")));
  SetLabelPicture(Image10, QStringLiteral("usb-open"), QSize(32, 32));
  SetLabelPicture(Image13, QStringLiteral("usb-close"), QSize(32, 32));

  FitColumnsToContents(ListView1, {2, 3});
  FitColumnsToContents(ListView3, {2, 3, 4});

  // Paths and the current file: elided in the middle, whole in the tool tip.
  for (QLabel* path : {Label5, Label23, Label47}) ElideInTheMiddle(path);
  Label6->setWordWrap(true);
  KeepTextsWhole(this);
  AlignLabelColumn({formText2, formText4, formText6});
  AlignLabelColumn({formText35, formText37, formText39});
  AlignLabelColumn({formText49, formText51, formText53, formText55, formText57, formText59});

  // The bars keep their designed height as a floor and grow with the font and the pictures.
  for (QWidget* bar : std::initializer_list<QWidget*>{Panel4, Panel3, Panel1}) {
    const int designed = bar->minimumHeight();
    bar->setMinimumHeight(0);
    bar->setMaximumHeight(QWIDGETSIZE_MAX);
    bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    bar->layout()->setContentsMargins(6, 2, 6, 2);
    bar->layout()->setSpacing(2);
    bar->setMinimumHeight(std::max(designed, bar->sizeHint().height()));
  }

  // The seven day boxes of the editor on two rows, so that the page fits 800 pixels.
  QCheckBox* days[] = {CheckLundi, CheckMardi, CheckMercredi, CheckJeudi, CheckVendredi, CheckSamedi, CheckDimanche};
  delete formGroupWeek75->layout();
  auto* grid = new QGridLayout(formGroupWeek75);
  for (int d = 0; d < 7; ++d) grid->addWidget(days[d], d / 4, d % 4);

  // 800 x 600 at least, and more where the pages need it: the layouts, not a fixed size, decide.
  KeepMinimumSize(this, QSize(800, 600));
}

}  // namespace ui
