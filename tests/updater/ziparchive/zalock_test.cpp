#include "updater/ziparchive/zalock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ziptestkit.h"
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

TEST(ZALock, HeldForAWholeBatchAndReentrantFromItsEvents) {
  auto root = testenv::testRoot();
  auto archive = ziptestkit::MakeZip(root / "a.zip", {{"a.txt", "alpha"}, {"dir/b.txt", "beta"}});
  TZipArchiver zip;
  zip.FileName = archive.string();
  zip.OpenArchiveMode(0x20);
  zip.BaseDir = (root / "out").string();

  std::atomic<bool> otherEntered{false};
  std::thread other;
  int events = 0;
  int nested = 0;
  bool heldInEveryEvent = true;
  auto duringEvent = [&] {
    ++events;
    heldInEveryEvent = heldInEveryEvent && ZALockHeldByCurrentThread();
    if (!other.joinable()) {
      other = std::thread([&] {
        TZALockGuard wait;  // a batch of another thread waits for this one to end
        otherEntered = true;
      });
      // A second archiver's batch started from an event runs at once on this thread.
      TZipArchiver inner;
      inner.FileName = archive.string();
      inner.OpenArchiveMode(0x20);
      inner.BaseDir = (root / "inner").string();
      inner.OnOverallProgress = [&](TZABaseArchiver*, double, TZAProcessOperation, TZAProgressPhase, bool&) {
        ++nested;
      };
      inner.ExtractFiles("*.*", 0x28BF, "");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    heldInEveryEvent = heldInEveryEvent && !otherEntered;
  };
  zip.OnOverallProgress = [&](TZABaseArchiver*, double, TZAProcessOperation, TZAProgressPhase, bool&) {
    duringEvent();
  };
  zip.OnFileProgress = [&](TZABaseArchiver*, const std::string&, double, TZAProcessOperation, TZAProgressPhase,
                           bool&) { duringEvent(); };
  zip.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_FALSE(ZALockHeldByCurrentThread());
  other.join();
  EXPECT_TRUE(otherEntered);
  EXPECT_GE(events, 2);  // at least the batch's start and end
  EXPECT_GE(nested, 2);
  EXPECT_TRUE(heldInEveryEvent);
}
