#pragma once
// The running instance and later starts: show requests that reach it through its channel, and
// the box a later start shows when it cannot reach it.
#include <QObject>

class QSocketNotifier;
class QWidget;

namespace platform {
class InstanceChannel;
}

namespace ui {

class ShowRequests : public QObject {
  Q_OBJECT

 public:
  // Serves the channel, which must outlive this object, from the event loop.
  explicit ShowRequests(platform::InstanceChannel& channel, QObject* parent = nullptr);

  static constexpr int kMaxPeers = 16;         // peers served at once; more are dropped
  static constexpr int kPeerTimeoutMs = 5000;  // a peer silent for this long is dropped

 signals:
  // A later start asks for the main window. The answer goes back once the slots have run.
  void showRequested();

 private:
  friend class PeerLink;
  void acceptPeers();

  platform::InstanceChannel& channel_;
  QSocketNotifier* listening_ = nullptr;
  int peers_ = 0;
};

// The later start's box when the running instance does not answer.
void SayInstanceDoesNotAnswer(QWidget* parent = nullptr);

}  // namespace ui
