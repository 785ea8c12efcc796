// USB volume arrival, the known volumes of ComboBox_1 and the editor's USB panel.
#include <QMouseEvent>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <stdexcept>

#include "platform/volumes.h"
#include "scheduler/core/jobline.h"
#include "scheduler/core/usbvolume.h"
#include "scheduler/ui/listitems.h"
#include "scheduler/ui/textfit.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/tform4.h"
#include "scheduler/ui/xpbar.h"

namespace ui {

namespace {

// The mount table is read again this often when the kernel signals no change.
constexpr int kMountPollMs = 3000;

// Runs a handler when a picture is clicked.
class ClickFilter : public QObject {
 public:
  ClickFilter(QWidget* picture, std::function<void()> handler) : QObject(picture), handler_(std::move(handler)) {
    picture->installEventFilter(this);
    picture->setCursor(Qt::PointingHandCursor);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      Guarded(handler_);
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> handler_;
};

}  // namespace

void TForm1::connectUsb() {
  new ClickFilter(Image10, [this] { Image10Click(); });
  new ClickFilter(Image13, [this] { Image13Click(); });
  bind(ComboBox_1, &QComboBox::currentTextChanged, &TForm1::ComboBox_1Change);
  bind(ComboBox_1, &QComboBox::activated, &TForm1::ComboBox_1Click);
  bind(SpeedButton19, &QAbstractButton::clicked, &TForm1::Image11Click);
  mountPoll_ = new QTimer(this);
  mountPoll_->setInterval(kMountPollMs);
  bind(mountPoll_, &QTimer::timeout, &TForm1::CheckMounts);
  WatchMounts(UsbRoots);
}

void TForm1::WatchMounts(const platform::SystemRoots& roots) {
  UsbRoots = roots;
  delete mountNotifier_;
  mountNotifier_ = nullptr;
  mountWatcher_ = std::make_unique<platform::MountWatcher>(roots);
  if (mountWatcher_->Fd() >= 0) {
    mountNotifier_ = new QSocketNotifier(mountWatcher_->Fd(), QSocketNotifier::Exception, this);
    bind(mountNotifier_, &QSocketNotifier::activated, &TForm1::CheckMounts);
  }
  mountPoll_->start();
}

void TForm1::CheckMounts() {
  if (!mountWatcher_) return;
  for (const platform::MountInfo& m : mountWatcher_->NewVolumes()) Guarded([&] { WMDeviceChange(m); });
}

void TForm1::WMDeviceChange(const platform::MountInfo& mount) {
  // A mount point that would break the timetable line cannot be named there.
  if (!core::UsbMountPointStorable(mount.mountPoint)) return;
  const auto info = platform::ReadVolumeInformation(mount, UsbRoots);
  core::UsbVolume volume;
  volume.identity = core::UsbVolumeId(mount.mountPoint, info ? std::optional(info->label) : std::nullopt,
                                      info ? std::optional(info->serial) : std::nullopt);
  volume.mountPoint = mount.mountPoint;
  volume.label = info ? info->label : std::string();
  volume.device = platform::BlockDeviceName(mount.major, mount.minor, UsbRoots);
  volume.major = mount.major;
  volume.minor = mount.minor;

  const QString identity = QString::fromStdString(volume.identity);
  Edit14->setText(identity);
  std::vector<std::string> known;
  for (int i = 0; i < ComboBox_1->count(); ++i) known.push_back(ComboBox_1->itemText(i).toStdString());
  known.push_back(volume.identity);
  {
    const QSignalBlocker quiet(ComboBox_1);
    ComboBox_1->clear();
    for (const std::string& id : core::DeleteDoublets(known)) ComboBox_1->addItem(QString::fromStdString(id));
  }
  SaveSettings();
  ComboBox_1->setCurrentIndex(ComboBox_1->findText(identity, Qt::MatchFixedString));
  verifielistbox(volume.identity, volume);
}

void TForm1::verifielistbox(const std::string& identity, const core::UsbVolume& volume) {
  if (!Form4) return;
  const core::UsbArrival arrival =
      core::UsbArrivalJobs(ScheduleLines, identity, volume.mountPoint, [&] {
        return platform::StillMounted(volume.mountPoint, volume.major, volume.minor, UsbRoots);
      });
  // A volume plugged in again before the prompt was answered: its jobs are there once.
  const std::vector<std::string> offered = ItemTexts(*Form4->ListBox1);
  for (const std::string& job : arrival.jobs)
    if (std::find(offered.begin(), offered.end(), job) == offered.end()) AddItemText(*Form4->ListBox1, job);
  if (!arrival.jobs.empty()) Form4->Volume = volume;
  if (!arrival.error.empty()) throw std::runtime_error(arrival.error);
  if (!arrival.jobs.empty()) Form4->Timer1->start();
}

std::string TForm1::MakeUsbJobFolder(const std::string& source, const std::string& target) {
  const std::string folder = core::UsbJobFolder(source, target);
  const std::string mountPoint = target.substr(0, target.find(core::kUsbMarker));
  // The volume named must be the one mounted there now, else the folder would land on
  // whatever holds the mount point.
  bool mounted = false;
  if (const auto m = platform::MountAt(mountPoint, UsbRoots); m && m->major != 0) {
    const auto info = platform::ReadVolumeInformation(*m, UsbRoots);
    const std::string here = core::UsbVolumeId(mountPoint, info ? std::optional(info->label) : std::nullopt,
                                               info ? std::optional(info->serial) : std::nullopt);
    mounted = core::UsbVolumeKey(here) == core::UsbVolumeKey(target);
  }
  const std::string error = core::MakeUsbFolder(folder, mounted);
  if (!error.empty()) throw std::runtime_error(error);
  return folder;
}

void TForm1::ComboBox_1Change() { Edit14->setText(ComboBox_1->currentText()); }
void TForm1::ComboBox_1Click() { Edit14->setText(ComboBox_1->currentText()); }

void TForm1::Image10Click() {
  Panel2->show();
  Image10->hide();
  // Read at once with every layout above the panel aware of it (left to the event loop, they learn
  // it one level per turn and the window would grow after the move was reckoned).
  ForgetSizesAbove(Panel2);
  ForgetSizesAbove(Image10);
  // The window grows by what the panel needs at the window's width, up to the work area's height,
  // moving up first when it would then reach below it, in one change of geometry.
  QSize wanted = size().expandedTo(NeededSize(this));
  QRect frame = frameGeometry();
  if (const QScreen* s = screen()) {
    const QRect work = s->availableGeometry();
    const int decoration = frame.height() - height();
    wanted.setHeight(std::min(wanted.height(), std::max(height(), work.height() - decoration)));
    const int below = frame.top() + decoration + wanted.height() - (work.y() + work.height());
    if (below > 0) frame.moveTop(std::max(work.y(), frame.top() - below));
  }
  if (wanted == size() && frame.topLeft() == frameGeometry().topLeft()) return;
  setGeometry(QRect(geometry().topLeft() + frame.topLeft() - frameGeometry().topLeft(), wanted));
}

void TForm1::Image13Click() {
  Image10->show();
  Panel2->hide();
}

void TForm1::Image11Click() {
  if (Form4) Form4->Timer1->start();
}

}  // namespace ui
