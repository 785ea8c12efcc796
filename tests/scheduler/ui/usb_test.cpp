// USB backups end to end: a mount table that changes, the arrival, the prompt and its answers,
// the run of the accepted jobs, and the editor's USB panel.
#include <QAbstractItemModel>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "scheduler/ui/listitems.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform4.h"
#include "scheduler/ui/xpbar.h"
#include "tests/support/testenv.h"
#include "tests/support/usbvolume.h"

namespace fs = std::filesystem;

namespace {

fs::path DataFolder() { return testenv::testRoot() / "data" / "Quillomet"; }
std::string S(const QString& s) { return s.toStdString(); }

// Pumps events until the condition holds; false when it never did.
bool WaitUntil(const std::function<bool()>& condition, int ms = 20000) {
  QDeadlineTimer deadline(ms);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

std::string Entry(const fs::path& source, const std::string& target) {
  return "1|0|1|1|1|1|1|1|1|" + source.string() + "|*.*|" + target + "|1|0|";
}

class UsbWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::writeFile(DataFolder() / "serie.ini",
                       "[Form1]\nCheckBox_12=1\nCheckBox_13=0\nCheckBox_14=0\nCheckBox_16=0\n");
    form = std::make_unique<ui::TForm1>();
    for (QTimer* t : {form->Timer1, form->Timer2, form->Timer3, form->Timer4}) t->stop();
    ui::Form1 = form.get();
    prompt = std::make_unique<ui::TForm4>();
    ui::Form4 = prompt.get();
    prompt->SlideStepMs = 0;
    form->WatchMounts(table.roots);
    work = testenv::makeDir("home/Work");
    photos = testenv::makeDir("home/Photos");
    testenv::writeFile(work / "a.txt", "alpha");
    testenv::writeFile(work / "sub" / "b.txt", "beta");
    testenv::writeFile(photos / "p.jpg", "picture");
  }
  void TearDown() override {
    ui::Form4 = nullptr;
    prompt.reset();
    ui::Form1 = nullptr;
    form.reset();
  }
  // The timetable as the file and the window hold it.
  void SetTimetable(const std::vector<std::string>& lines) {
    std::string bytes = "\n";
    for (const std::string& l : lines) bytes += l + "\n";
    testenv::writeFile(DataFolder() / "quillo-vz.dat", bytes);
    ui::ScheduleFileSize = static_cast<std::int32_t>(bytes.size());
    form->ScheduleLines = {""};
    form->ScheduleLines.insert(form->ScheduleLines.end(), lines.begin(), lines.end());
  }
  // Two entries for the stick SAVE (recorded when it was mounted elsewhere), one for another.
  void SaveTimetable() {
    SetTimetable({Entry(work, "/media/old:-Quillomet-SAVE - 987"), Entry(photos, "/media/old:-Quillomet-OTHER - 5"),
                  Entry(photos, "/elsewhere:-Quillomet-SAVE - 987"), Entry(work, "/srv/copies")});
  }
  // Plugs the FAT stick SAVE in at a fresh mount point and lets the window see it.
  fs::path PlugSave(unsigned minor = 17) {
    if (image.empty()) image = testenv::MakeFatImage();
    const fs::path mount = testenv::makeDir("media" + std::to_string(++plugs));
    table.AddStick(minor, mount.string(), image);
    form->CheckMounts();
    return mount;
  }
  std::vector<std::string> Offered() const { return ui::ItemTexts(*prompt->ListBox1); }
  std::vector<std::string> Queue() const { return ui::ItemTexts(*form->ListBox3); }
  // The dispatch tick, as often as the queue holds jobs.
  void RunQueue() {
    while (form->ListBox3->count() > 0) form->Timer3Timer();
    form->Timer3Timer();  // finds it empty: "rien"
  }
  QRect Work() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

  testenv::MountTable table;
  std::unique_ptr<ui::TForm1> form;
  std::unique_ptr<ui::TForm4> prompt;
  fs::path work, photos;
  std::string image;
  int plugs = 0;
};

}  // namespace

TEST_F(UsbWindow, ArrivalRemembersTheVolumeAndOffersItsJobs) {
  if (!testenv::HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  SaveTimetable();
  QWidget typing;
  auto* edit = new QLineEdit(&typing);
  typing.show();
  typing.activateWindow();
  edit->setFocus();
  WaitUntil([&] { return QApplication::focusWidget() == edit; }, 2000);
  QWidget* const focusBefore = QApplication::focusWidget();

  // Plugged in: the fallback poll of the mount table finds it.
  image = testenv::MakeFatImage();
  const fs::path mount = testenv::makeDir("media");
  table.AddStick(17, mount.string(), image);
  ASSERT_TRUE(WaitUntil([&] { return form->ComboBox_1->count() > 0; }));
  const std::string id = mount.string() + ":-Quillomet-SAVE - 987";
  EXPECT_EQ(S(form->ComboBox_1->itemText(0)), id);
  EXPECT_EQ(S(form->ComboBox_1->currentText()), id);
  EXPECT_EQ(S(form->Edit14->text()), id);
  EXPECT_NE(testenv::readFile(DataFolder() / "serie.ini").find("[Form1ComboBox_1]\nL0=" + id + "\n"), std::string::npos);
  // Both entries of SAVE, whatever mount point they were recorded with, in timetable order.
  EXPECT_EQ(Offered(), (std::vector<std::string>{work.string() + "|" + (mount / "Work").string() + "|*.*|1",
                                                 photos.string() + "|" + (mount / "Photos").string() + "|*.*|1"}));
  EXPECT_TRUE(fs::is_directory(mount / "Work"));

  // The prompt slides up at the bottom right of the work area, without taking the focus.
  ASSERT_TRUE(WaitUntil([&] { return prompt->isVisible() && prompt->height() == prompt->SlideSteps + 2; }));
  EXPECT_EQ(prompt->SlideSteps, 173);
  EXPECT_EQ(prompt->geometry().bottom(), Work().bottom());
  EXPECT_EQ(prompt->geometry().right(), Work().right());
  EXPECT_EQ(S(prompt->Label2->text()), "Voulez-vous démarrer la sauvegarde ?");
  EXPECT_EQ(S(prompt->Label3->text()), (mount / "Work").string());
  EXPECT_TRUE(prompt->testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_TRUE(prompt->windowHandle()->flags() & Qt::WindowDoesNotAcceptFocus);
  // The offscreen platform activates every window it shows; a real display keeps the focus.
  if (QGuiApplication::platformName() != "offscreen") {
    EXPECT_EQ(QApplication::focusWidget(), focusBefore);
  }

  // "Oui": the first job goes to the queue and runs into <mount>/Work.
  prompt->Button1->click();
  EXPECT_EQ(S(prompt->Label2->text()), "Sauvegarde en cours");
  EXPECT_FALSE(prompt->Button1->isEnabled());
  EXPECT_FALSE(prompt->Button2->isEnabled());
  EXPECT_TRUE(prompt->Button3->isEnabled());
  EXPECT_TRUE(prompt->Timer3->isActive());
  ASSERT_EQ(Queue().size(), 1u);
  RunQueue();
  EXPECT_EQ(testenv::readFile(mount / "Work" / "a.txt"), "alpha");
  EXPECT_EQ(testenv::readFile(mount / "Work" / "sub" / "b.txt"), "beta");
  EXPECT_FALSE(fs::exists(mount / "Photos" / "p.jpg"));
  EXPECT_FALSE(prompt->Label7->text().isEmpty()) << "the run writes its counters into the prompt";

  // Idle again: the next job is offered.
  prompt->Timer3Timer();
  EXPECT_EQ(S(prompt->Label3->text()), (mount / "Photos").string());
  EXPECT_TRUE(prompt->Button1->isEnabled());
  EXPECT_FALSE(prompt->Button3->isEnabled());

  // "Non" skips it: the list is empty, the prompt slides down and closes.
  prompt->Button2->click();
  EXPECT_TRUE(Offered().empty());
  EXPECT_FALSE(prompt->isVisible());
  EXPECT_FALSE(prompt->Timer3->isActive());
  EXPECT_TRUE(Queue().empty());
  EXPECT_FALSE(fs::exists(mount / "Photos" / "p.jpg"));

  // The same volume mounted a second time while it stays mounted: nothing new.
  table.Add("99 22 8:17 / " + testenv::makeDir("again").string() + " rw - vfat " + image + " rw");
  form->CheckMounts();
  EXPECT_TRUE(Offered().empty());
  EXPECT_FALSE(prompt->Timer1->isActive());
  EXPECT_EQ(form->ComboBox_1->count(), 1);
}

TEST_F(UsbWindow, YesToAllQueuesEveryJobAndTheEndOfTheQueueClosesThePrompt) {
  if (!testenv::HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  SaveTimetable();
  const fs::path mount = PlugSave();
  prompt->Timer1Timer();
  prompt->Ouipourtouteslessauvegardes1->trigger();
  EXPECT_EQ(Queue().size(), 2u);
  EXPECT_TRUE(Offered().empty());
  EXPECT_EQ(S(prompt->Label3->text()), "Liste programmée");
  EXPECT_TRUE(prompt->Timer2->isActive());
  // Still running or not yet seen empty by the dispatcher: the prompt waits.
  prompt->Timer2Timer();
  EXPECT_TRUE(prompt->isVisible());
  RunQueue();
  EXPECT_EQ(testenv::readFile(mount / "Work" / "a.txt"), "alpha");
  EXPECT_EQ(testenv::readFile(mount / "Photos" / "p.jpg"), "picture");
  EXPECT_EQ(S(form->Edit21->text()), "rien");
  prompt->Timer2Timer();
  EXPECT_EQ(S(prompt->Label2->text()), "Sauvegarde Terminée.");
  EXPECT_FALSE(prompt->isVisible());
  EXPECT_FALSE(prompt->Timer2->isActive());
  EXPECT_EQ(S(form->Edit21->text()), "");
  EXPECT_TRUE(prompt->Button1->isEnabled()) << "closing gives the buttons back";
}

// "Arrêt" stops the walk under way: the files after it are not copied, the run ends.
TEST_F(UsbWindow, StopEndsTheWalkUnderWay) {
  if (!testenv::HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  for (int i = 0; i < 40; ++i) testenv::writeFile(work / ("many" + std::to_string(i)), "x");
  SetTimetable({Entry(work, "/x:-Quillomet-SAVE - 987")});
  const fs::path mount = PlugSave();
  prompt->Timer1Timer();
  prompt->Button1->click();
  int rows = 0;
  QObject::connect(form->ListView3->model(), &QAbstractItemModel::rowsInserted, prompt.get(), [&] {
    if (++rows == 3) prompt->Button3->click();
  });
  RunQueue();
  EXPECT_EQ(rows, 3);
  EXPECT_LT(std::distance(fs::directory_iterator(mount / "Work"), fs::directory_iterator()), 10);
  EXPECT_EQ(form->Edit12->text(), "true");
  EXPECT_FALSE(form->RunBusy());
}

// The short identity of a volume that cannot be read is remembered but matches no entry.
TEST_F(UsbWindow, AnUnreadableVolumeIsRememberedButOffersNothing) {
  const fs::path mount = testenv::makeDir("unreadable");
  SetTimetable({Entry(work, "/old:-Quillomet-SAVE - 987"), Entry(work, "/old:-Quillomet-"),
                Entry(work, mount.string() + ":-Quillomet-")});
  table.AddStick(33, mount.string(), (testenv::testRoot() / "no-device").string());
  form->CheckMounts();
  EXPECT_EQ(S(form->ComboBox_1->currentText()), mount.string() + ":-Quillomet-");
  EXPECT_TRUE(Offered().empty());
  EXPECT_FALSE(prompt->Timer1->isActive());
  EXPECT_TRUE(fs::is_empty(mount));
}

TEST_F(UsbWindow, KnownVolumesStaySortedWithoutDoublets) {
  if (!testenv::HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  form->ComboBox_1->addItems({"/z:-Quillomet-Z - 1", "/a:-Quillomet-A - 2"});
  const fs::path first = PlugSave(17);
  table.Set("22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n");  // pulled out
  form->CheckMounts();
  const fs::path second = PlugSave(17);  // back, at another mount point
  std::vector<std::string> items;
  for (int i = 0; i < form->ComboBox_1->count(); ++i) items.push_back(S(form->ComboBox_1->itemText(i)));
  std::vector<std::string> expected = {"/a:-Quillomet-A - 2", "/z:-Quillomet-Z - 1",
                                       first.string() + ":-Quillomet-SAVE - 987",
                                       second.string() + ":-Quillomet-SAVE - 987"};
  std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) < 0;
  });
  EXPECT_EQ(items, expected);
}

// A volume that went away before its folders were made: nothing is made on its mount point.
TEST_F(UsbWindow, NoFolderOnAVolumeThatWentAway) {
  if (!testenv::HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  SaveTimetable();
  platform::MountInfo gone;
  gone.root = "/";
  gone.mountPoint = testenv::makeDir("gone").string();
  gone.source = testenv::MakeFatImage();
  gone.major = 8;
  gone.minor = 65;
  testenv::MarkRemovable(table.roots.sys, 8, 65, "sde");
  std::string error;
  ui::SetExceptionHandler([&](const std::exception& e) { error = e.what(); });
  ui::Guarded([&] { form->WMDeviceChange(gone); });
  ui::SetExceptionHandler({});
  EXPECT_EQ(error, "Impossible de créer " + gone.mountPoint + "/Work : le volume USB n'est plus branché");
  EXPECT_TRUE(fs::is_empty(gone.mountPoint));
  EXPECT_TRUE(Offered().empty());
  EXPECT_FALSE(prompt->Timer1->isActive());
}

TEST_F(UsbWindow, PromptAnswersWhileARunGoes) {
  const std::string job = "/src/A|/key/A|*.*|1";
  const std::string next = "/src/B|/key/B|*.*|1";
  // "Non" with jobs left offers the next one.
  ui::AddItemText(*prompt->ListBox1, job);
  ui::AddItemText(*prompt->ListBox1, next);
  prompt->Timer1Timer();
  prompt->Button2Click();
  EXPECT_EQ(S(prompt->Label3->text()), "/key/B");
  EXPECT_TRUE(prompt->isVisible());
  // While a run goes, the re-offer waits and watches the end instead.
  form->Edit12->setText("false");
  prompt->Timer3->start();
  prompt->Timer3Timer();
  EXPECT_TRUE(prompt->Timer2->isActive());
  EXPECT_TRUE(prompt->Timer3->isActive());
  // The prompt's close glyph hides it; its list and timers stay.
  prompt->SpeedButton1->click();
  EXPECT_FALSE(prompt->isVisible());
  EXPECT_EQ(Offered(), std::vector<std::string>{next});
  EXPECT_TRUE(prompt->Timer2->isActive());
  // "Non" on the last job while the run goes: closed, but not "Sauvegarde Terminée.".
  prompt->Timer1Timer();
  prompt->Label2->setText("Sauvegarde en cours");
  prompt->Button2Click();
  EXPECT_EQ(S(prompt->Label2->text()), "Sauvegarde en cours");
  EXPECT_FALSE(prompt->isVisible());
  EXPECT_FALSE(prompt->Timer2->isActive());
  EXPECT_FALSE(prompt->Timer3->isActive());
  // "<" pops the menu up under "Oui", right-aligned on "<".
  prompt->Timer1Timer();
  prompt->Button4Click();
  ASSERT_TRUE(WaitUntil([&] { return prompt->PopupMenu1->isVisible(); }));
  EXPECT_EQ(prompt->PopupMenu1->geometry().right() + 1, prompt->Button4->mapToGlobal(QPoint(prompt->Button4->width(), 0)).x());
  prompt->PopupMenu1->close();
}

TEST_F(UsbWindow, EditorUsbPanel) {
  auto click = [](QWidget* picture) {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(picture, &release);
  };
  form->move(0, 250);  // low on the screen: growing in place would reach below it
  form->show();
  form->JvTransparentButton2Click();
  EXPECT_FALSE(form->Panel2->isVisibleTo(form.get()));
  click(form->Image10);
  EXPECT_TRUE(form->Panel2->isVisibleTo(form.get()));
  EXPECT_FALSE(form->Image10->isVisibleTo(form.get()));
  // The window makes room for the whole panel (the offscreen platform keeps windows near its
  // screen's size).
  if (QGuiApplication::platformName() != "offscreen") {
    EXPECT_TRUE(WaitUntil([&] { return form->Panel2->height() >= form->Panel2->minimumSizeHint().height(); }));
  }
  click(form->Image13);
  EXPECT_FALSE(form->Panel2->isVisibleTo(form.get()));
  EXPECT_TRUE(form->Image10->isVisibleTo(form.get()));
  // "Options USB" of "Vos répertoires" opens it too.
  ui::XPBar* bar = form->JvXPBar4;
  ASSERT_EQ(bar->item(bar->itemCount() - 1)->text(), "Options USB");
  bar->item(bar->itemCount() - 1)->click();
  EXPECT_TRUE(form->Panel2->isVisibleTo(form.get()));
  // Choosing a known volume makes it the target.
  form->Edit13->setText("/home/u/Docs");
  form->ComboBox_1->addItems({"/media/a:-Quillomet-A - 1", "/media/b:-Quillomet-B - 2"});
  form->ComboBox_1->setCurrentIndex(1);
  EXPECT_EQ(S(form->Edit14->text()), "/media/b:-Quillomet-B - 2");
  form->Edit14->clear();
  emit form->ComboBox_1->activated(1);
  EXPECT_EQ(S(form->Edit14->text()), "/media/b:-Quillomet-B - 2");
  EXPECT_EQ(form->Button31->text(), "Enregistrer") << "a USB target is saved from step one";
  // "Voir la fenêtre" shows the prompt with what it holds.
  form->SpeedButton19->click();
  EXPECT_TRUE(prompt->Timer1->isActive());
  ASSERT_TRUE(WaitUntil([&] { return prompt->isVisible(); }));
}

// The panel asks for the room its lines take at the window's width, not for what its wrapped
// texts would take at a narrow width, and the window that grows for it stays on the screen.
TEST_F(UsbWindow, TheUsbPanelGrowsTheWindowByWhatItNeedsWithinTheWorkArea) {
  form->move(0, 250);
  form->show();
  form->JvTransparentButton2Click();
  QApplication::processEvents();
  const int closedMinimum = form->minimumHeight();
  form->Image10Click();
  QApplication::processEvents();
  ASSERT_TRUE(form->Panel2->isVisible());
  const int panelNeed = form->Panel2->heightForWidth(form->Panel2->width()) + form->GroupBox9->layout()->spacing();
  EXPECT_GT(form->minimumHeight(), closedMinimum) << "the panel needs more room than the page had to spare";
  EXPECT_LE(form->minimumHeight() - closedMinimum, panelNeed);
  EXPECT_GE(form->Panel2->height(), form->Panel2->heightForWidth(form->Panel2->width()));
  // It grew to its minimum, moving up rather than reaching below the work area.
  EXPECT_TRUE(WaitUntil([&] { return form->height() == form->minimumHeight(); }, 5000))
      << form->height() << " for " << form->minimumHeight();
  const auto onScreen = [&] {
    const QRect frame = form->frameGeometry();
    return frame.top() >= Work().top() && frame.bottom() <= Work().bottom();
  };
  EXPECT_TRUE(WaitUntil(onScreen, 5000)) << form->frameGeometry().y() << "+" << form->frameGeometry().height();
  // Closed again, the panel no longer counts.
  form->Image13Click();
  EXPECT_TRUE(WaitUntil([&] { return form->minimumHeight() <= closedMinimum; }, 5000)) << form->minimumHeight();
}

// As root where the kernel mounts FAT: a real loop-mounted stick, marked as USB in our /sys.
TEST_F(UsbWindow, RealStickFromArrivalToTheCopyAndPulledOutDuringARun) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a loop device needs root";
  if (!testenv::HaveMkfsVfat()) GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
  for (int i = 0; i < 30; ++i) testenv::writeFile(photos / ("f" + std::to_string(i)) / "p.jpg", "picture");
  SaveTimetable();
  platform::SystemRoots roots;
  roots.sys = table.roots.sys;
  form->WatchMounts(roots);
  image = testenv::MakeFatImage();
  const fs::path mount = testenv::makeDir("stick");
  testenv::LoopMount loop(image, mount.string());
  if (!loop.mounted()) GTEST_SKIP() << "this machine cannot mount a FAT image on a loop device";
  const platform::MountInfo m = loop.info();
  testenv::MarkRemovable(roots.sys, m.major, m.minor, "sdx");
  form->CheckMounts();
  const std::string id = mount.string() + ":-Quillomet-SAVE - 987";
  EXPECT_EQ(S(form->ComboBox_1->currentText()), id);
  EXPECT_NE(testenv::readFile(DataFolder() / "serie.ini").find("L0=" + id + "\n"), std::string::npos);
  ASSERT_EQ(Offered().size(), 2u);
  prompt->Timer1Timer();
  EXPECT_TRUE(prompt->isVisible());
  prompt->Button1->click();
  RunQueue();
  EXPECT_EQ(testenv::readFile(mount / "Work" / "a.txt"), "alpha");

  // Pulled out while the second job runs: error rows, the alert, an end, nothing on the disk.
  prompt->Button1Click();
  int rows = 0;
  QObject::connect(form->ListView3->model(), &QAbstractItemModel::rowsInserted, prompt.get(), [&] {
    if (++rows == 2) loop.Unmount();
  });
  form->CheckBox_14->setChecked(true);  // the window alert
  form->hide();
  RunQueue();
  EXPECT_FALSE(loop.mounted());
  EXPECT_EQ(form->Edit12->text(), "true");
  EXPECT_FALSE(form->RunBusy());
  EXPECT_TRUE(form->isVisible()) << "the failure alert shows the window";
  bool lostRow = false;
  for (int i = 0; i < form->ListView3->topLevelItemCount(); ++i)
    lostRow = lostRow || form->ListView3->topLevelItem(i)->text(4) == "Cible non présente ";
  EXPECT_TRUE(lostRow);
  EXPECT_TRUE(fs::is_empty(mount)) << "nothing made on the plain folder left behind";
}
