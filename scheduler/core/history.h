#pragma once
// Rows of the history list (kind, image index, sub-item texts), and the log viewer's caption
// and text order.
#include <string>
#include <string_view>
#include <vector>

namespace core {

// History list images.
enum HistoryImage : int { kImageRunEnded = 0, kImageLogRun = 1, kImageWarning = 2, kImageFileError = 5 };

struct HistoryRow {
  int image = 0;
  std::vector<std::string> texts;  // sub-items after the empty caption
  bool operator==(const HistoryRow&) const = default;
};

HistoryRow RunEndedRow(const std::string& t, const std::string& source, const std::string& target,
                       const std::string& filter, bool subfolders);
// A run that had errors (image 5) or was stopped (image 2): what went wrong stands before the
// target, as in a file error row.
HistoryRow RunTroubleRow(const std::string& t, const std::string& source, const std::string& trouble,
                         const std::string& target, const std::string& filter, bool subfolders, bool errors);
HistoryRow TargetMissingRow(const std::string& t, const std::string& source, const std::string& target);
HistoryRow SourceMissingRow(const std::string& t, const std::string& source, const std::string& target);
HistoryRow NetworkRow(const std::string& t, const std::string& source, const std::string& target);
HistoryRow FileErrorRow(const std::string& t, const std::string& source, const std::string& message,
                        const std::string& target);
HistoryRow ExceptionRow(const std::string& t, const std::string& message, const std::string& currentFile);

// "Historique du DD/MM/YYYY" from a log file's base name "YYYYMMDD".
std::string ViewerCaption(std::string_view baseName);

// Text order of the viewer's sort: by character code, a-z taken as A-Z and nothing else.
int CompareAsciiNoCase(std::string_view a, std::string_view b);

}  // namespace core
