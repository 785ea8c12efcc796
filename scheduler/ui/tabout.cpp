#include "scheduler/ui/tabout.h"

#include <QEvent>
#include <QMouseEvent>

#include "platform/shell.h"
#include "scheduler/ui/slotguard.h"

namespace ui {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(468, 353);
  setModal(false);
  connect(OKButton, &QPushButton::clicked, this, [this] { Guarded([this] { OKButtonClick(); }); });
  Label1->installEventFilter(this);
}

void TAboutBox::OKButtonClick() { hide(); }

void TAboutBox::CommentsClick() { platform::ShellOpen(Label1->text().toStdString()); }

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label1 && event->type() == QEvent::MouseButtonRelease) {
    Guarded([this] { CommentsClick(); });
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace ui
