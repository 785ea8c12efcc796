#pragma once
// The timetable editor's entry: its summary line, its checks and the timetable line it saves.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "scheduler/core/timetable.h"

namespace core {

// What the editor's controls hold.
struct EditorEntry {
  int hours = 0;
  int minutes = 0;
  std::array<bool, 7> days{};  // Monday to Sunday
  std::string source;
  std::string filter = "*.*";
  std::string target;
  bool subFolders = true;
  bool overwrite = false;
};

// Words of the summary line (the captions of the window's labels, so they can be translated).
struct SummaryWords {
  std::string programmation = "Programmation ";
  std::string toutesLes = " tout(es) les ";
  std::string a = "à ";
  std::string heures = "Heures";
  std::string minutes = "Minutes";
  std::string et = "et";
  std::array<std::string, 7> days = {" le lundi", " le mardi", " le mercredi", " le jeudi",
                                     " le vendredi", " le samedi", " le dimanche"};
};

inline constexpr const char* kIntervalMessage =
    "L'intervale minimum de programmation est d'une minute.\nIndiquer 1 dans les minutes ou dans les heures";
inline constexpr const char* kForbiddenCharacterMessage =
    "Un dossier ou un filtre contient un caractère interdit (« | » ou un saut de ligne)";

// A target that names a USB volume (holds ":-Quillomet-").
bool IsUsbTarget(std::string_view target);

// The one-line summary of the planned backup.
std::string SummaryText(const SummaryWords& words, int hours, int minutes, const std::array<bool, 7>& days);

// Why the entry cannot be saved ("" when it can). `sameFolderText` is the message of a target
// that is empty, missing or the source itself (or lies inside it).
std::string EditorRefusal(const EditorEntry& entry, const std::string& sameFolderText);

// Every ":\\" made ":\".
std::string SingleDriveSeparator(std::string path);

// The timetable line of the entry; a USB entry is written due every minute on every day.
ScheduleLine EditorLine(const EditorEntry& entry);

// Appends the entry's line to the timetable file, first creating the file with its empty
// line when it has gone. False (with errorText) when nothing could be written.
bool SaveEditorEntry(const std::filesystem::path& path, const EditorEntry& entry, std::string* errorText = nullptr);

}  // namespace core
