#include "scheduler/ui/backgroundcalls.h"

#include <algorithm>

namespace ui {

BackgroundCalls::~BackgroundCalls() {
  for (Worker& w : threads_) w.thread.join();
}

void BackgroundCalls::Reap() {
  std::vector<Worker> ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto split = std::stable_partition(threads_.begin(), threads_.end(), [](const Worker& w) { return !*w.finished; });
    std::move(split, threads_.end(), std::back_inserter(ended));
    threads_.erase(split, threads_.end());
  }
  for (Worker& w : ended) w.thread.join();
}

}  // namespace ui
