#pragma once
// Job lines of the job queue: source|target|filter|sub|bdd in three shapes, one reader.
#include <string>
#include <string_view>

namespace core {

struct Job {
  std::string source;
  std::string target;
  std::string filter;
  bool subFolders = true;
  bool overwrite = false;
};

// Shape of the test queueing: the five fields, each followed by "|".
std::string TestJobLine(std::string_view source, std::string_view target, std::string_view filter,
                        bool subFolders, bool overwrite);
// Shape of the scheduled-backup prompt: four fields, no overwrite flag, no final "|".
std::string PromptJobLine(std::string_view source, std::string_view target, std::string_view filter,
                          std::string_view subFlag);

// Reads any of the three shapes: sub-folders unless the field is "0", overwrite only when it
// is "1" (a missing field means off).
Job ReadJobLine(std::string_view line);

// A job may start only when the idle marker says "true" and no run (walk or pre-flight) is
// under way: a marker set back early by a stop that is still unwinding must not let a second
// run start inside the first.
bool DispatchAllowed(std::string_view idleMarker, bool runUnderWay);

// The folder a USB timetable entry backs up into on its volume, for the test queueing: the
// mount point named by the identity in `target`, then the last folder name of `source`
// ("Quillomet" when the source ends with "/"). An identity without a mount point gives a
// relative path, which callers refuse.
std::string UsbJobFolder(std::string_view source, std::string_view target);
// Makes such a folder (one level) when it is missing. Nothing is made unless the volume is
// still mounted: its mount point would otherwise be a plain folder of the system disk. Returns
// "" when the folder is there, else the French error text.
std::string MakeUsbFolder(const std::string& folder, bool volumeMounted);

}  // namespace core
