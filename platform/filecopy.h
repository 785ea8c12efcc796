#pragma once
// Copy of one file that never leaves a partial file under the target's name: the data go
// into a temp file in the target folder, which replaces the target only once complete.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace platform {

struct CopyResult {
  bool ok = false;
  int error = 0;        // errno of the failure, 0 on success
  std::string message;  // the system's text for it
  bool changed = false;  // the source kept changing while it was copied
};

// Times a source that changes while it is copied is copied again before the copy fails.
inline constexpr int kCopyTries = 3;

// Called after every chunk with the bytes written so far and the source size taken at the
// start; returning false cancels the copy (the old target stays as it was).
using CopyProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Copies source over target (copy_file_range, read/write where that is refused), keeps the
// source's permission bits and times, and renames over the target only on success. After the
// data the source is looked at again (size, modification and change times): a source that
// changed meanwhile is copied again, up to kCopyTries times, and then the copy fails with
// `changed` set. On any failure the temp file is removed and the target is untouched.
CopyResult CopyFileReplacing(const std::string& source, const std::string& target,
                             const CopyProgress& progress = {});
// The same into `name` inside the open folder `dirfd`: the temp file is created there without
// following links, and a link under `name` is replaced, never followed.
CopyResult CopyFileInto(const std::string& source, int dirfd, const std::string& name,
                        const CopyProgress& progress = {});

// A copy whose data, mode and times are complete in a temp file of the target folder, waiting
// to replace the target.
struct StagedCopy {
  int dirfd = -1;  // the target folder (not owned)
  std::string temp, name;
  struct timespec times[2] = {};
  bool posixModes = true;
};
// CopyFileInto in two steps: StageCopyInto does everything but the rename (on failure nothing
// is left), CommitCopy renames the temp file over the target (on failure the temp file is
// removed and the target is untouched).
CopyResult StageCopyInto(const std::string& source, int dirfd, const std::string& name,
                         const CopyProgress& progress, StagedCopy& staged);
CopyResult CommitCopy(const StagedCopy& staged);

// True for a name CopyFileReplacing gives its temp files.
bool IsCopyTempName(const std::string& name);

// Removes the temp files an interrupted copy left in folder (not below it); returns how many.
int RemoveCopyTemps(const std::string& folder);
// The same for an open folder descriptor (read to its end; the descriptor stays open).
int RemoveCopyTempsAt(int dirfd);

}  // namespace platform
