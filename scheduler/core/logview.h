#pragma once
// A daily log read once for the viewer: the text of its lines in one block and where each line
// starts, nothing more per line. Rows, their fields and their image are taken from the text when
// asked, so a log of millions of lines costs little more than its size. Reading it whole at once
// keeps the view sound while a run goes on appending to the file, or the file is cut or replaced.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct LogViewLimits {
  std::size_t maxLineBytes = 16384;          // a longer line is shown cut
  std::uint64_t maxTotalBytes = 1ull << 30;  // of a larger log only the newest lines are read
  std::size_t maxRows = 20'000'000;          // of the newest lines; no run writes so many
};

class LogView {
 public:
  static constexpr int kColumns = 6;  // the image column, then the first five fields

  LogView() = default;

  // Reads the log at path to the end it has when opened. Throws std::runtime_error (French
  // text) when the path is not a regular file or cannot be opened or read; a FIFO or a device
  // is never opened for blocking reads.
  static LogView Read(const std::string& path, const LogViewLimits& limits = {});

  std::size_t rows() const { return starts_.empty() ? 0 : starts_.size() - 1; }
  // The line shown at row, without its line break, in the order shown.
  std::string_view line(std::size_t row) const { return lineAt(lineOf(row)); }
  // Column 1 to 5: that ";"-field of the row's line ("" where the line has fewer); column 0,
  // the caption, is empty.
  std::string_view text(std::size_t row, int column) const;
  // The row's image: 2 for " Erreur F " lines, 0 for other error lines, 1 for runs.
  int image(std::size_t row) const;

  // The viewer's order of two rows by one column: their texts by character code, a-z taken as
  // A-Z (CompareAsciiNoCase).
  int compare(std::size_t row1, std::size_t row2, int column) const;
  // Orders the rows by column, ascending; rows that compare equal keep their order.
  void sortBy(int column);

  // The line, counted from the first one read, shown at row.
  std::size_t lineOf(std::size_t row) const { return order_.empty() ? row : order_[row]; }

  // For each column, a row whose text there is the longest (0 when there is no row).
  std::array<std::size_t, kColumns> longestRows() const;

  bool olderLinesLeftOut() const { return olderLeftOut_; }  // the log goes on before the rows read
  bool cutLines() const { return cutLines_; }               // a line was longer than maxLineBytes

 private:
  std::string_view lineAt(std::size_t line) const {
    return std::string_view(text_).substr(starts_[line], starts_[line + 1] - starts_[line]);
  }
  void dropOldest(std::size_t lines);

  std::string text_;                   // the lines one after the other, without line breaks
  std::vector<std::uint32_t> starts_;  // where each line starts in text_, then the end
  std::vector<std::uint32_t> order_;   // the line of each row once sorted; empty: file order
  bool olderLeftOut_ = false;
  bool cutLines_ = false;
};

// The ";"-field of a log line that the viewer shows in column 1 to 5; "" where the line has fewer.
std::string_view LogField(std::string_view line, int column);

// The viewer's image of a log line from its first field.
int ViewerImage(std::string_view firstField);

// What the viewer says about a partly shown log; "" when the whole file is shown.
std::string LogViewNotice(const LogView& view);

}  // namespace core
