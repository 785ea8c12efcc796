// Single-file versions of steps that grow with the directory reader, the entry search and
// the batch loop; each moves to its own file, with its full behaviour, when those arrive.
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaformat.h"
#include "updater/ziparchive/zalock.h"

namespace ziparchive {

bool TZABaseArchiver::ItemMatches(TZAArchiveItem&) { return false; }

void TZABaseArchiver::CollectItems(const std::string&, int32_t, const std::string&) {}

void TZABaseArchiver::ProcessFiles(TZAProcessOperation) { TZALockGuard lock; }

}  // namespace ziparchive
