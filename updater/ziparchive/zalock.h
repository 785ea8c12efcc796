#pragma once
// The engine's one process-wide lock: recursive, shared by every archiver, held for a whole batch.

namespace ziparchive {

void ZALockEnter();
void ZALockLeave();
// True when the calling thread holds the lock (at any depth).
bool ZALockHeldByCurrentThread();

class TZALockGuard {
 public:
  TZALockGuard() { ZALockEnter(); }
  ~TZALockGuard() { ZALockLeave(); }
  TZALockGuard(const TZALockGuard&) = delete;
  TZALockGuard& operator=(const TZALockGuard&) = delete;
};

}  // namespace ziparchive
