#pragma once
// What a batch run (ProcessFiles) did with its selected entries.
#include <cstdint>

namespace ziparchive {

struct TZABatchResult {
  int32_t Done = 0;     // entries written, tested, refreshed or removed
  int32_t Skipped = 0;  // declined, kept an existing file, or skipped for want of a password
  int32_t Failed = 0;   // failures the failure event answered with Ignore (or Abort)
  bool Cancelled = false;  // a progress event asked to stop
  bool Aborted = false;    // the failure event answered Abort
  // Every selected entry was handled and nothing failed or stopped the batch.
  bool Succeeded() const { return Failed == 0 && !Cancelled && !Aborted; }
};

// How one entry of a batch ended when it raised nothing.
enum class TZAItemOutcome : uint8_t { Done, Skipped, Cancelled };

}  // namespace ziparchive
