#include "scheduler/ui/udiskseject.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantMap>

#include "scheduler/core/saferemoval.h"

namespace ui {

namespace {

// An unmount waits for the volume's data to reach it: long enough for a slow stick.
constexpr int kUnmountTimeoutMs = 10 * 60 * 1000;
constexpr int kCallTimeoutMs = 60 * 1000;

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

bool UDisksEject::Available() const {
  if (!bus_.isConnected() || !bus_.interface()) return false;
  const QString name = QString::fromLatin1(core::kUDisksService);
  if (bus_.interface()->isServiceRegistered(name)) return true;
  const QDBusReply<QStringList> activatable = bus_.interface()->activatableServiceNames();
  return activatable.isValid() && activatable.value().contains(name);
}

UDisksEject::Result UDisksEject::Eject(const core::UsbVolume& volume) const {
  const std::string name = core::VolumeDisplayName(volume.label, volume.mountPoint);
  auto failed = [&name](const QDBusMessage& reply) {
    return Result{false, Q(core::EjectErrorText(reply.errorName().toStdString(), reply.errorMessage().toStdString(), name))};
  };
  if (!bus_.isConnected())
    return Result{false, Q(core::EjectErrorText("org.freedesktop.DBus.Error.NoServer", "", name))};
  const QString service = QString::fromLatin1(core::kUDisksService);
  const QString block = Q(core::UDisksBlockPath(volume.device));
  const QVariantMap noOptions;

  QDBusMessage get = QDBusMessage::createMethodCall(service, block, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get << QStringLiteral("org.freedesktop.UDisks2.Block") << QStringLiteral("Drive");
  const QDBusMessage driveReply = bus_.call(get, QDBus::BlockWithGui, kCallTimeoutMs);
  if (driveReply.type() == QDBusMessage::ErrorMessage) return failed(driveReply);
  QString drive;
  if (!driveReply.arguments().isEmpty())
    drive = qvariant_cast<QDBusObjectPath>(qvariant_cast<QDBusVariant>(driveReply.arguments().first()).variant()).path();

  QDBusMessage unmount = QDBusMessage::createMethodCall(service, block, QStringLiteral("org.freedesktop.UDisks2.Filesystem"),
                                                        QStringLiteral("Unmount"));
  unmount << noOptions;
  const QDBusMessage unmounted = bus_.call(unmount, QDBus::BlockWithGui, kUnmountTimeoutMs);
  if (unmounted.type() == QDBusMessage::ErrorMessage &&
      unmounted.errorName() != QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted"))
    return failed(unmounted);

  const QString done = QStringLiteral("Vous pouvez retirer le périphérique « %1 » en toute sécurité.").arg(Q(name));
  if (drive.isEmpty() || drive == QStringLiteral("/")) return Result{true, done};
  QDBusMessage powerOff = QDBusMessage::createMethodCall(service, drive, QStringLiteral("org.freedesktop.UDisks2.Drive"),
                                                         QStringLiteral("PowerOff"));
  powerOff << noOptions;
  const QDBusMessage off = bus_.call(powerOff, QDBus::BlockWithGui, kCallTimeoutMs);
  // Unmounted already: the data is safe even when the drive cannot be powered off.
  if (off.type() == QDBusMessage::ErrorMessage)
    return Result{true, QStringLiteral("Le périphérique « %1 » est démonté : vous pouvez le retirer. (Il n'a pas pu être mis hors tension : %2)")
                            .arg(Q(name), off.errorMessage())};
  return Result{true, done};
}

}  // namespace ui
