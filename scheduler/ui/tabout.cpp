#include "scheduler/ui/tabout.h"

#include <QDesktopServices>
#include <QEvent>
#include <QUrl>
#include <QMouseEvent>

#include "platform/shell.h"
#include "scheduler/ui/pictures.h"
#include "scheduler/ui/slotguard.h"

namespace ui {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setModal(false);
  setWindowIcon(ui::ProgramIcon());
  SetLabelPicture(this->ProgramIcon, QStringLiteral("about-side"), QSize(150, 308));
  SetLabelPicture(Image2, QStringLiteral("quillomet"), QSize(40, 40));
  SetLabelPicture(Image3, QStringLiteral("about-disk"), QSize(40, 40));
  Label1->setText(QStringLiteral(QUILLOMET_WEB_ADDRESS));
  // 468 x 353, or more where a larger font needs it.
  setFixedSize(sizeHint().expandedTo(QSize(468, 353)));
  connect(OKButton, &QPushButton::clicked, this, [this] { Guarded([this] { OKButtonClick(); }); });
  Label1->installEventFilter(this);
}

void TAboutBox::OKButtonClick() { hide(); }

void TAboutBox::CommentsClick() { QDesktopServices::openUrl(QUrl(Label1->text())); }

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label1 && event->type() == QEvent::MouseButtonRelease) {
    Guarded([this] { CommentsClick(); });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace ui
