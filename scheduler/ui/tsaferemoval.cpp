#include "scheduler/ui/tsaferemoval.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "scheduler/core/saferemoval.h"
#include "scheduler/ui/slotguard.h"

namespace ui {

TSafeRemoval::TSafeRemoval(const core::UsbVolume& volume, const QDBusConnection& bus, QWidget* parent)
    : QDialog(parent), volume_(volume), eject_(bus) {
  setObjectName(QStringLiteral("SafeRemoval"));
  setWindowTitle(QStringLiteral("Retirer le périphérique en toute sécurité"));
  setAttribute(Qt::WA_DeleteOnClose);
  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setWordWrap(true);
  Label1->setMinimumWidth(360);
  Button1 = new QPushButton(QStringLiteral("Éjecter"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("Fermer"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addLayout(buttons);

  const QString name = QString::fromStdString(core::VolumeDisplayName(volume.label, volume.mountPoint));
  QString text = QStringLiteral("La sauvegarde sur le périphérique « %1 » (%2) est terminée.\n"
                                "Éjectez-le avant de le retirer de l'ordinateur.")
                     .arg(name, QString::fromStdString(volume.mountPoint));
  if (!eject_.Available()) {
    text += QStringLiteral("\n\n") +
            QString::fromStdString(core::EjectErrorText("org.freedesktop.DBus.Error.ServiceUnknown", "",
                                                        name.toStdString()));
    Button1->setEnabled(false);
  }
  Label1->setText(text);
  connect(Button1, &QPushButton::clicked, this, Guard([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, &QDialog::close);
}

void TSafeRemoval::Button1Click() {
  Button1->setEnabled(false);
  Label1->setText(QStringLiteral("Éjection en cours..."));
  const UDisksEject::Result r = eject_.Eject(volume_);
  Label1->setText(r.text);
  Button1->setEnabled(!r.ok);
  Button2->setDefault(true);
}

}  // namespace ui
