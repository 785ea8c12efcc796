#include "scheduler/core/copydecision.h"

namespace core {

bool SourceIsNewer(const FileFacts& source, const FileFacts& target) {
  if (!source.dos || !target.dos) return false;
  return *source.dos > *target.dos;
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
