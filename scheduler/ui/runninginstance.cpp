#include "scheduler/ui/runninginstance.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include "platform/instancechannel.h"
#include "scheduler/ui/pictures.h"

namespace ui {

// One accepted peer, until it has sent its request, sent something else, or kept silent too long.
class PeerLink : public QObject {
 public:
  PeerLink(int fd, ShowRequests* owner) : QObject(owner), owner_(owner), peer_(fd), notifier_(fd, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { read(); });
    QTimer::singleShot(ShowRequests::kPeerTimeoutMs, this, [this] { finish(); });
  }

 private:
  void read() {
    if (done_) return;
    const platform::RequestState state = peer_.Read();
    if (state == platform::RequestState::Incomplete) return;
    notifier_.setEnabled(false);
    if (state == platform::RequestState::Show) {
      emit owner_->showRequested();
      peer_.Answer();
    }
    finish();
  }
  void finish() {
    if (done_) return;
    done_ = true;
    notifier_.setEnabled(false);
    --owner_->peers_;
    deleteLater();
  }

  ShowRequests* owner_;
  bool done_ = false;
  platform::InstancePeer peer_;  // closes the descriptor after the notifier has gone
  QSocketNotifier notifier_;
};

ShowRequests::ShowRequests(platform::InstanceChannel& channel, QObject* parent) : QObject(parent), channel_(channel) {
  if (channel_.fd() < 0) return;
  listening_ = new QSocketNotifier(channel_.fd(), QSocketNotifier::Read, this);
  connect(listening_, &QSocketNotifier::activated, this, [this] { acceptPeers(); });
}

void ShowRequests::acceptPeers() {
  for (int fd = channel_.Accept(); fd >= 0; fd = channel_.Accept()) {
    if (peers_ >= kMaxPeers) {
      ::close(fd);
      continue;
    }
    ++peers_;
    new PeerLink(fd, this);
  }
}

void SayInstanceDoesNotAnswer(QWidget* parent) {
  const QString text = QStringLiteral("Quillomet est déjà en cours d'exécution mais ne répond pas.");
  // Also for a start from a terminal, or a desktop that shows no box.
  std::fprintf(stderr, "%s\n", text.toUtf8().constData());
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Quillomet"), text, QMessageBox::NoButton, parent);
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setObjectName(QStringLiteral("NoAnswerBox"));
  box.setWindowIcon(ProgramIcon());
  box.exec();
}

}  // namespace ui
