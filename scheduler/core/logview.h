#pragma once
// Reading of a daily log for the viewer. The rows and the length of each line are bounded, so
// a huge or hostile file neither freezes the window nor fills the memory; the caller is told
// what was left out.
#include <cstddef>
#include <string>
#include <vector>

#include "scheduler/core/history.h"

namespace core {

struct LogViewLimits {
  std::size_t maxRows = 50000;
  std::size_t maxLineBytes = 16384;       // a longer line is shown cut
  std::size_t maxTotalBytes = 32u << 20;  // of all the lines kept
};

struct LogView {
  std::vector<HistoryRow> rows;
  bool moreLines = false;  // the file goes on past the rows read
  bool cutLines = false;   // at least one line was longer than maxLineBytes
};

// Reads the log at path with ViewerRow. Throws std::runtime_error (French text) when the path
// is not a regular file or cannot be opened or read; a FIFO or a device is never opened for
// blocking reads.
LogView ReadLogForViewer(const std::string& path, const LogViewLimits& limits = {});

// What the viewer says about a partly shown log; "" when the whole file is shown.
std::string LogViewNotice(const LogView& view);

}  // namespace core
