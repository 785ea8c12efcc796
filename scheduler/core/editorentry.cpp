#include "scheduler/core/editorentry.h"

#include <system_error>

#include "scheduler/core/backuprun.h"
#include "scheduler/core/duetime.h"

namespace core {

bool IsUsbTarget(std::string_view target) { return target.find(kUsbMarker) != std::string_view::npos; }

std::string SummaryText(const SummaryWords& words, int hours, int minutes, const std::array<bool, 7>& days) {
  std::string prefix = words.toutesLes;
  std::string minutePart = std::to_string(minutes) + " " + words.minutes + " ";
  std::string hourPart;
  if (hours > 0) {
    hourPart = std::to_string(hours) + " " + words.heures + " ";
    minutePart = minutes > 0 ? words.et + " " + std::to_string(minutes) + " " + words.minutes : "";
  }
  std::string dayParts;
  for (size_t d = 0; d < days.size(); ++d) {
    if (!days[d]) continue;
    dayParts += ", " + words.days[d];
    prefix = words.a;
  }
  return words.programmation + " " + prefix + " " + hourPart + minutePart + dayParts;
}

namespace {

bool HasForbiddenCharacter(const std::string& text) { return text.find_first_of("|\r\n") != std::string::npos; }

}  // namespace

std::string EditorRefusal(const EditorEntry& entry, const std::string& sameFolderText) {
  const bool usb = IsUsbTarget(entry.target);
  if (!usb && entry.hours == 0 && entry.minutes == 0) return kIntervalMessage;
  if (entry.target == entry.source || entry.target.empty() || entry.source.empty()) return sameFolderText;
  // A target inside its own source would be walked and copied into itself at every run.
  if (!usb && TargetWithinSource(SingleDriveSeparator(entry.target), SingleDriveSeparator(entry.source)))
    return sameFolderText;
  for (const std::string* text : {&entry.source, &entry.target, &entry.filter})
    if (HasForbiddenCharacter(*text)) return kForbiddenCharacterMessage;
  return {};
}

std::string SingleDriveSeparator(std::string path) {
  for (size_t at = path.find(":\\\\"); at != std::string::npos; at = path.find(":\\\\", at + 2)) path.erase(at + 1, 1);
  return path;
}

ScheduleLine EditorLine(const EditorEntry& entry) {
  ScheduleLine line;
  const bool usb = IsUsbTarget(entry.target);
  line.minutes = usb ? "1" : std::to_string(entry.minutes);
  line.hours = usb ? "0" : std::to_string(entry.hours);
  for (size_t d = 0; d < 7; ++d) line.days[d] = usb || entry.days[d] ? "1" : "0";
  line.source = SingleDriveSeparator(entry.source);
  line.filter = entry.filter;
  line.target = SingleDriveSeparator(entry.target);
  line.subFolders = entry.subFolders ? "1" : "0";
  line.overwrite = entry.overwrite ? "1" : "0";
  return line;
}

bool SaveEditorEntry(const std::filesystem::path& path, const EditorEntry& entry, std::string* errorText) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !CreateScheduleFile(path, errorText)) return false;
  return AppendScheduleLine(path, EditorLine(entry), errorText);
}

}  // namespace core
