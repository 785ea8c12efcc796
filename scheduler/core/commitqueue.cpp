#include "scheduler/core/commitqueue.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace core {

CommitQueue::~CommitQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

std::shared_ptr<CommitQueue::Commit> CommitQueue::Add(const platform::StagedCopy& staged) {
  const int fd = ::fcntl(staged.dirfd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  auto c = std::make_shared<Commit>();
  c->staged = staged;
  c->staged.dirfd = fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    todo_.push_back(c);
    if (threads_.size() < static_cast<std::size_t>(workers_) && threads_.size() < todo_.size()) {
      try {
        threads_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        if (threads_.empty()) {  // no thread at all: carried out here
          todo_.pop_back();
          c->result = Rename(c->staged);
          c->done = true;
          ::close(fd);
          return c;
        }
      }
    }
  }
  queued_.notify_one();
  return c;
}

bool CommitQueue::Done(const Commit& c) {
  std::lock_guard<std::mutex> lock(mutex_);
  return c.done;
}

bool CommitQueue::Wait(const Commit& c, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finished_.wait_for(lock, limit, [&] { return c.done; });
}

void CommitQueue::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return ending_ || !todo_.empty(); });
    if (todo_.empty()) return;  // ending, nothing left
    std::shared_ptr<Commit> c = std::move(todo_.front());
    todo_.pop_front();
    lock.unlock();
    platform::CopyResult r = Rename(c->staged);
    ::close(c->staged.dirfd);
    lock.lock();
    c->result = std::move(r);
    c->done = true;
    finished_.notify_all();
  }
}

}  // namespace core
