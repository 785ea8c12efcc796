#include "scheduler/core/copydecision.h"

#include "platform/filetimes.h"

namespace core {

bool SourceIsNewer(const FileFacts& source, const FileFacts& target) {
  // Not later in seconds is not later in DOS steps either: no conversion needed (a rerun
  // meets this for nearly every file).
  if (source.mtime <= target.mtime) return false;
  auto s = platform::DosDateTime(static_cast<std::time_t>(source.mtime));
  auto t = platform::DosDateTime(static_cast<std::time_t>(target.mtime));
  return s && t && *s > *t;
}

CopyAnswer DecideCopy(const CopyQuestion& q) {
  CopyAnswer a;
  a.freeSpaceLeft = q.freeSpaceLeft;
  const bool newer = q.target.exists && SourceIsNewer(q.source, q.target);

  if (q.source.size == 0) {
    // Empty sources: no overwrite mode, no free-space bookkeeping.
    if (!q.target.exists || newer) a.action = CopyAction::Copy, a.counted = true;
    return a;
  }

  const auto size = static_cast<std::int64_t>(q.source.size);
  if (q.target.exists && !q.overwrite) {
    if (!newer) return a;
    a.counted = true;
    if (q.removable) a.freeSpaceLeft -= size - static_cast<std::int64_t>(q.target.size);
  } else {
    a.counted = true;
    if (q.removable) a.freeSpaceLeft -= size;
  }
  a.action = (q.removable && a.freeSpaceLeft < 0) ? CopyAction::NoSpace : CopyAction::Copy;
  return a;
}

}  // namespace core
