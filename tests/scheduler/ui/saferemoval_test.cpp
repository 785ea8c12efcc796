// Safe removal against a stand-in UDisks2 service on a private D-Bus bus started by the test.
#include <QDBusConnection>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "scheduler/ui/listitems.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform4.h"
#include "scheduler/ui/tsaferemoval.h"
#include "tests/support/testenv.h"
#include "tests/support/usbvolume.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStartMs = 30000;

std::string S(const QString& s) { return s.toStdString(); }

// A bus of our own: dbus-daemon with the session configuration, gone with the object.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(kStartMs)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(kStartMs)) {
    }
    address = QString::fromUtf8(daemon_.readLine()).trimmed();
    static int connections = 0;
    name_ = QStringLiteral("safe-removal-test-%1").arg(++connections);
  }
  ~PrivateBus() {
    QDBusConnection::disconnectFromBus(name_);
    daemon_.kill();
    daemon_.waitForFinished();
  }
  QDBusConnection Connection() const { return QDBusConnection::connectToBus(address, name_); }
  QString address;

 private:
  QProcess daemon_;
  QString name_;
};

// The stand-in service for the block device `device`; its calls are logged one per line.
class StandIn {
 public:
  StandIn(const PrivateBus& bus, const char* mode, const std::string& device)
      : log_(testenv::testRoot() / ("udisks-" + std::string(mode) + ".log")) {
    const fs::path script = testenv::fixtures().parent_path() / "support" / "udisks_standin.py";
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QString::fromStdString(script.string()), bus.address, QString::fromLatin1(mode),
                    QString::fromStdString(device), QString::fromStdString(log_.string())});
    process_.waitForStarted(kStartMs);
    while (!process_.canReadLine() && process_.waitForReadyRead(kStartMs)) {
    }
    ready = process_.readLine().trimmed() == "ready";
  }
  ~StandIn() {
    process_.kill();
    process_.waitForFinished();
  }
  std::string Calls() const { return fs::exists(log_) ? testenv::readFile(log_) : std::string(); }
  bool ready = false;

 private:
  fs::path log_;
  QProcess process_;
};

core::UsbVolume Save(const std::string& mountPoint = "/media/u/SAVE", const std::string& device = "sdz1") {
  core::UsbVolume v;
  v.identity = mountPoint + ":-Quillomet-SAVE - 987";
  v.mountPoint = mountPoint;
  v.label = "SAVE";
  v.device = device;
  v.major = 8;
  v.minor = 17;
  return v;
}

const char kBlock[] = "/org/freedesktop/UDisks2/block_devices/";
const char kDrive[] = "/org/freedesktop/UDisks2/drives/Stick_SAVE_0001";

}  // namespace

TEST(SafeRemoval, DialogNamesTheVolume) {
  PrivateBus bus;
  ui::TSafeRemoval dialog(Save(), bus.Connection());
  EXPECT_EQ(dialog.windowTitle(), "Retirer le périphérique en toute sécurité");
  EXPECT_TRUE(S(dialog.Label1->text())
                  .starts_with("La sauvegarde sur le périphérique « SAVE » (/media/u/SAVE) est terminée.\n"
                               "Éjectez-le avant de le retirer de l'ordinateur."));
  EXPECT_EQ(dialog.Button1->text(), "Éjecter");
  EXPECT_EQ(dialog.Button2->text(), "Fermer");
}

// Unmount on the block device, then power-off on the drive its Drive property names; a busy
// volume is said in French, stays powered, and may be tried again.
TEST(SafeRemoval, EjectThroughUDisks) {
  const std::string block = std::string(kBlock) + "sdz1";
  const struct {
    const char* mode;
    std::string calls;
    const char* text;
    bool again;
  } cases[] = {
      {"ok",
       "Get " + block + " org.freedesktop.UDisks2.Block.Drive\nUnmount " + block + "\nPowerOff " + kDrive + "\n",
       "Vous pouvez retirer le périphérique « SAVE » en toute sécurité.", false},
      {"busy", "Get " + block + " org.freedesktop.UDisks2.Block.Drive\nUnmount " + block + "\n",
       "Le périphérique « SAVE » est en cours d'utilisation : fermez les fichiers et les fenêtres ouverts dessus, "
       "puis réessayez.",
       true},
  };
  for (const auto& c : cases) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    StandIn udisks(bus, c.mode, "sdz1");
    ASSERT_TRUE(udisks.ready) << c.mode;
    ui::TSafeRemoval dialog(Save(), bus.Connection());
    ASSERT_TRUE(dialog.Button1->isEnabled()) << c.mode;
    dialog.Button1->click();
    EXPECT_EQ(udisks.Calls(), c.calls) << c.mode;
    EXPECT_EQ(S(dialog.Label1->text()), c.text) << c.mode;
    EXPECT_EQ(dialog.Button1->isEnabled(), c.again) << c.mode;
  }
}

TEST(SafeRemoval, WithoutUDisksOnTheBusTheDialogSaysSo) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
  ui::TSafeRemoval dialog(Save("/media/u/KEY"), bus.Connection());
  EXPECT_NE(S(dialog.Label1->text()).find("Le service UDisks2 est absent : le périphérique « SAVE » ne peut pas "
                                          "être éjecté d'ici."),
            std::string::npos);
  EXPECT_FALSE(dialog.Button1->isEnabled());
  // No bus at all: the same words.
  ui::TSafeRemoval unconnected(Save(), QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                                      QStringLiteral("safe-removal-no-bus")));
  EXPECT_NE(S(unconnected.Label1->text()).find("Le service UDisks2 est absent"), std::string::npos);
  QDBusConnection::disconnectFromBus(QStringLiteral("safe-removal-no-bus"));
}

// At the end of the prompt, with "Supprimer le périphérique" checked, and only once nothing
// uses the volume any more.
TEST(SafeRemoval, OfferedAtTheEndOnceNothingUsesTheVolume) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
  StandIn udisks(bus, "ok", "sdb1");
  ASSERT_TRUE(udisks.ready);
  testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\nCheckBox_16=0\n");
  auto form = std::make_unique<ui::TForm1>();
  for (QTimer* t : {form->Timer1, form->Timer2, form->Timer3, form->Timer4}) t->stop();
  ui::Form1 = form.get();
  auto prompt = std::make_unique<ui::TForm4>();
  ui::Form4 = prompt.get();
  prompt->SlideStepMs = 0;
  prompt->SafeRemovalBus = bus.address;
  testenv::MountTable table;
  const fs::path mount = testenv::makeDir("SAVE");
  table.AddStick(17, mount.string(), "/dev/sdb1");
  form->WatchMounts(table.roots);
  prompt->Volume = Save(mount.string(), "sdb1");

  const struct {
    const char* name;
    bool removal;
    const char* idle;
    std::string queued;
    bool offered;
  } cases[] = {
      {"box unchecked", false, "true", "", false},
      {"a run goes", true, "false", "", false},
      {"a job for the volume waits", true, "true", "/home/u/Docs|" + mount.string() + "/Docs|*.*|1", false},
      {"a job elsewhere waits", true, "true", "/home/u/Docs|/srv/Docs|*.*|1|0|", true},
      {"nothing uses it", true, "true", "", true},
  };
  for (const auto& c : cases) {
    form->supp_peri->setChecked(c.removal);
    form->Edit12->setText(c.idle);
    form->ListBox3->clear();
    if (!c.queued.empty()) ui::AddItemText(*form->ListBox3, c.queued);
    prompt->Timer1Timer();
    prompt->Button2Click();
    EXPECT_FALSE(prompt->isVisible()) << c.name;
    EXPECT_EQ(prompt->SafeRemoval != nullptr, c.offered) << c.name;
    if (prompt->SafeRemoval && c.queued.empty()) {
      EXPECT_NE(S(prompt->SafeRemoval->Label1->text()).find("« SAVE » (" + mount.string() + ")"), std::string::npos);
      prompt->SafeRemoval->Button1->click();
      EXPECT_NE(udisks.Calls().find(std::string("Unmount ") + kBlock + "sdb1\n"), std::string::npos);
    }
    if (prompt->SafeRemoval) {
      prompt->SafeRemoval->close();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(prompt->SafeRemoval, nullptr) << c.name;
  }
  // Another end while the dialog is still open: the new dialog takes the old one's place.
  prompt->Timer1Timer();
  prompt->Button2Click();
  const ui::TSafeRemoval* first = prompt->SafeRemoval;
  prompt->Timer1Timer();
  prompt->Button2Click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_NE(prompt->SafeRemoval, nullptr);
  EXPECT_NE(prompt->SafeRemoval, first);
  EXPECT_TRUE(prompt->SafeRemoval->isVisible());
  ui::Form4 = nullptr;
  prompt.reset();
  ui::Form1 = nullptr;
  form.reset();
}
