#include "updater/ziparchive/zalock.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace ziparchive {

namespace {

// Function-local so that archivers built during static initialisation find it ready.
std::recursive_mutex& processLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::atomic<std::thread::id> owner{};
thread_local int depth = 0;

}  // namespace

void ZALockEnter() {
  processLock().lock();
  if (depth++ == 0) owner.store(std::this_thread::get_id());
}

void ZALockLeave() {
  if (--depth == 0) owner.store(std::thread::id{});
  processLock().unlock();
}

bool ZALockHeldByCurrentThread() {
  return depth > 0 && owner.load() == std::this_thread::get_id();
}

}  // namespace ziparchive
