#include "scheduler/core/history.h"

#include "scheduler/core/dailylog.h"

namespace core {

HistoryRow RunEndedRow(const std::string& t, const std::string& source, const std::string& target,
                       const std::string& filter, bool subfolders) {
  return {kImageRunEnded, {t, source, target, filter, YesNo(subfolders)}};
}

HistoryRow RunTroubleRow(const std::string& t, const std::string& source, const std::string& trouble,
                         const std::string& target, const std::string& filter, bool subfolders, bool errors) {
  return {errors ? kImageFileError : kImageWarning, {t, source, trouble + " : " + target, filter, YesNo(subfolders)}};
}

HistoryRow TargetMissingRow(const std::string& t, const std::string& source, const std::string& target) {
  return {kImageWarning, {t, source, "Cible non présente " + target}};
}

HistoryRow SourceMissingRow(const std::string& t, const std::string& source, const std::string& target) {
  return {kImageWarning, {t, source, "Source non présente " + source, target}};
}

HistoryRow NetworkRow(const std::string& t, const std::string& source, const std::string& target) {
  return {kImageWarning, {t, source, "Ordinateur Réseau non connecté..." + target}};
}

HistoryRow FileErrorRow(const std::string& t, const std::string& source, const std::string& message,
                        const std::string& target) {
  return {kImageFileError, {t, source, message + " : " + target}};
}

HistoryRow ExceptionRow(const std::string& t, const std::string& message, const std::string& currentFile) {
  return {kImageWarning, {t, message, currentFile}};
}

std::string ViewerCaption(std::string_view name) {
  auto part = [&](std::size_t from, std::size_t count) {
    return from < name.size() ? std::string(name.substr(from, count)) : std::string();
  };
  return "Historique du " + part(6, 2) + "/" + part(4, 2) + "/" + part(0, 4);
}

int CompareAsciiNoCase(std::string_view a, std::string_view b) {
  auto up = [](char c) -> unsigned char {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 32) : u;
  };
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = up(a[i]), y = up(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace core
