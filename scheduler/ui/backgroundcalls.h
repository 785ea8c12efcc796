#pragma once
// Blocking calls (network listings) run on worker threads; each result is handed to its
// function on the thread of `owner`, the window thread, through the event loop. Destruction
// waits for the calls under way; results still queued then are dropped with the owner.
#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ui {

class BackgroundCalls {
 public:
  explicit BackgroundCalls(QObject* owner) : owner_(owner) {}
  ~BackgroundCalls();
  BackgroundCalls(const BackgroundCalls&) = delete;
  BackgroundCalls& operator=(const BackgroundCalls&) = delete;

  // `work` must not touch widgets; `done` runs on the owner's thread.
  template <class R>
  void Run(std::function<R()> work, std::function<void(R)> done) {
    Reap();
    auto finished = std::make_shared<bool>(false);
    threads_.push_back({std::thread([owner = owner_, work = std::move(work), done = std::move(done), finished,
                                     this]() mutable {
                          auto result = std::make_shared<R>(work());
                          QMetaObject::invokeMethod(
                              owner, [done = std::move(done), result] { done(std::move(*result)); },
                              Qt::QueuedConnection);
                          std::lock_guard<std::mutex> lock(mutex_);
                          *finished = true;
                        }),
                        finished});
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<bool> finished;
  };
  void Reap();  // joins the workers that have ended

  QObject* owner_;
  std::mutex mutex_;
  std::vector<Worker> threads_;
};

}  // namespace ui
