#pragma once
// Whether one source file is copied over its target, and the free-space bookkeeping of a
// removable target. Pure: the caller reads the files and does the copy.
#include <cstdint>

namespace core {

struct FileFacts {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;  // last-write time, seconds since 1970
};

struct CopyQuestion {
  FileFacts source;
  FileFacts target;
  bool overwrite = false;      // replace existing targets whatever their dates
  bool removable = false;      // target on a removable, CD-ROM or RAM-disk drive
  std::int64_t freeSpaceLeft = 0;  // bytes, meaningful only on a removable target
};

enum class CopyAction { Skip, Copy, NoSpace };

struct CopyAnswer {
  CopyAction action = CopyAction::Skip;
  bool counted = false;  // takes the next row number ("N°" of the last-run list)
  std::int64_t freeSpaceLeft = 0;
  bool operator==(const CopyAnswer&) const = default;
};

// Source strictly later than target, both taken in the packed DOS form (local time, two-second
// steps); a time the DOS form cannot hold makes them count as equal.
bool SourceIsNewer(const FileFacts& source, const FileFacts& target);

// The decision. An existing target is never removed first: in overwrite mode it is booked as
// absent (the whole source size must fit) and only replaced once the new copy is complete.
CopyAnswer DecideCopy(const CopyQuestion& q);

}  // namespace core
