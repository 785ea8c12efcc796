// Single-file versions of steps that grow with the directory reader, the entry search and
// the batch loop; each moves to its own file, with its full behaviour, when those arrive.
#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaformat.h"
#include "updater/ziparchive/zalock.h"

namespace ziparchive {

bool TZABaseArchiver::ItemMatches(TZAArchiveItem&) { return false; }

bool TZABaseArchiver::DecompressItem(TZAStream&, TZAStream&, TDirItem&) { return false; }

}  // namespace ziparchive
