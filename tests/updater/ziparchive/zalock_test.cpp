#include "updater/ziparchive/zalock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "updater/ziparchive/zaarchiver.h"

using namespace ziparchive;

TEST(ZALock, ReentrantForItsThreadAndExclusiveAcrossThreads) {
  EXPECT_FALSE(ZALockHeldByCurrentThread());
  std::atomic<bool> otherEntered{false};
  std::thread other;
  {
    TZALockGuard batch;
    EXPECT_TRUE(ZALockHeldByCurrentThread());
    other = std::thread([&] {
      EXPECT_FALSE(ZALockHeldByCurrentThread());
      TZALockGuard wait;
      otherEntered = true;
    });
    {
      // An event handler of the batch takes it again without blocking.
      TZABaseArchiver::LockArchiver();
      EXPECT_TRUE(ZALockHeldByCurrentThread());
      TZABaseArchiver::UnlockArchiver();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherEntered);  // still held by the outer guard
    EXPECT_TRUE(ZALockHeldByCurrentThread());
  }
  other.join();
  EXPECT_TRUE(otherEntered);
  EXPECT_FALSE(ZALockHeldByCurrentThread());
}
