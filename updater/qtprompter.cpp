#include "updater/qtprompter.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace updater {

using ziparchive::TZAButton;

namespace {

QMessageBox::StandardButton standardButton(TZAButton b) {
  switch (b) {
    case TZAButton::Ok: return QMessageBox::Ok;
    case TZAButton::Cancel: return QMessageBox::Cancel;
    case TZAButton::Yes: return QMessageBox::Yes;
    case TZAButton::No: return QMessageBox::No;
    case TZAButton::YesToAll: return QMessageBox::YesToAll;
    case TZAButton::NoToAll: return QMessageBox::NoToAll;
    case TZAButton::Abort: return QMessageBox::Abort;
    case TZAButton::Retry: return QMessageBox::Retry;
    case TZAButton::Ignore: return QMessageBox::Ignore;
    case TZAButton::Closed: break;
  }
  return QMessageBox::NoButton;
}

}  // namespace

QString QtPrompter::ButtonText(TZAButton b) {
  switch (b) {
    case TZAButton::Ok: return QStringLiteral("OK");
    case TZAButton::Cancel: return QStringLiteral("Annuler");
    case TZAButton::Yes: return QStringLiteral("Oui");
    case TZAButton::No: return QStringLiteral("Non");
    case TZAButton::YesToAll: return QStringLiteral("Oui pour tout");
    case TZAButton::NoToAll: return QStringLiteral("Non pour tout");
    case TZAButton::Abort: return QStringLiteral("Abandonner");
    case TZAButton::Retry: return QStringLiteral("Réessayer");
    case TZAButton::Ignore: return QStringLiteral("Ignorer");
    case TZAButton::Closed: break;
  }
  return {};
}

TZAButton QtPrompter::Confirm(const std::string& text, const std::vector<TZAButton>& buttons) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), QString::fromStdString(text),
                  QMessageBox::NoButton, parent_);
  std::vector<std::pair<QAbstractButton*, TZAButton>> added;
  for (TZAButton b : buttons) {
    QPushButton* button = box.addButton(standardButton(b));
    button->setText(ButtonText(b));
    added.emplace_back(button, b);
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const auto& [button, b] : added) {
    if (button == clicked) return b;
  }
  return TZAButton::Closed;
}

bool QtPrompter::InputBox(const std::string& caption, const std::string& prompt, std::string& value) {
  QInputDialog dialog(parent_);
  dialog.setWindowTitle(QString::fromStdString(caption));
  dialog.setLabelText(QString::fromStdString(prompt));
  dialog.setTextValue(QString::fromStdString(value));
  dialog.setOkButtonText(ButtonText(TZAButton::Ok));
  dialog.setCancelButtonText(ButtonText(TZAButton::Cancel));
  if (dialog.exec() != QDialog::Accepted) return false;
  value = dialog.textValue().toStdString();
  return true;
}

}  // namespace updater
