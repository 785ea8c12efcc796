#pragma once
// Renames of finished copies over their targets, carried out by worker threads while the walk
// goes on. Replacing a file can take long: ext4 starts writing the new data out before it
// lets a rename replace an existing file, and waits for the device to take it.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/filecopy.h"

namespace core {

class CommitQueue {
 public:
  struct Commit {
    platform::StagedCopy staged;  // its folder descriptor belongs to the commit
    platform::CopyResult result;  // read once Done
    bool done = false;            // guarded by the queue
  };

  explicit CommitQueue(int workers = 2) : workers_(workers < 1 ? 1 : workers) {}
  ~CommitQueue();  // every commit added is carried out before the workers end
  CommitQueue(const CommitQueue&) = delete;
  CommitQueue& operator=(const CommitQueue&) = delete;

  // The rename itself, run on a worker; set before the first commit.
  std::function<platform::CopyResult(const platform::StagedCopy&)> Rename = platform::CommitCopy;

  // Queues the rename with a descriptor of its own on the staged copy's folder; null (errno
  // set) when no descriptor is left: the caller then commits it itself.
  std::shared_ptr<Commit> Add(const platform::StagedCopy& staged);
  bool Done(const Commit& c);
  // Waits at most `limit` for the commit; true once it is done.
  bool Wait(const Commit& c, std::chrono::milliseconds limit);

 private:
  void Work();

  const int workers_;
  std::mutex mutex_;
  std::condition_variable queued_, finished_;
  std::deque<std::shared_ptr<Commit>> todo_;
  std::vector<std::thread> threads_;  // started with the first commit
  bool ending_ = false;
};

}  // namespace core
