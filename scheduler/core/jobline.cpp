#include "scheduler/core/jobline.h"

#include <sys/stat.h>

#include <filesystem>

#include "scheduler/core/duetime.h"
#include "scheduler/core/fields.h"

namespace core {

std::string TestJobLine(std::string_view source, std::string_view target, std::string_view filter,
                        bool subFolders, bool overwrite) {
  std::string line;
  for (std::string_view field : {source, target, filter}) {
    line += field;
    line += '|';
  }
  line += subFolders ? "1|" : "0|";
  line += overwrite ? "1|" : "0|";
  return line;
}

std::string PromptJobLine(std::string_view source, std::string_view target, std::string_view filter,
                          std::string_view subFlag) {
  std::string line(source);
  for (std::string_view field : {target, filter, subFlag}) {
    line += '|';
    line += field;
  }
  return line;
}

Job ReadJobLine(std::string_view line) {
  std::string l = std::string(line) + "|";
  Job job;
  job.source = ExtractField(l, '|', 2);
  job.target = ExtractField(l, '|', 3);
  job.filter = ExtractField(l, '|', 4);
  job.subFolders = ExtractField(l, '|', 5) != "0";
  job.overwrite = ExtractField(l, '|', 6) == "1";
  return job;
}

bool DispatchAllowed(std::string_view idleMarker, bool runUnderWay) {
  return idleMarker == "true" && !runUnderWay;
}

std::string UsbJobFolder(std::string_view source, std::string_view target) {
  std::string_view mount = target.substr(0, target.find(kUsbMarker));
  while (mount.size() > 1 && mount.back() == '/') mount.remove_suffix(1);
  size_t slash = source.rfind('/');
  std::string name(slash == std::string_view::npos ? source : source.substr(slash + 1));
  if (name.empty()) name = "Quillomet";
  if (mount.empty()) return name;
  return std::string(mount) + (mount == "/" ? "" : "/") + name;
}

std::string MakeUsbFolder(const std::string& folder, bool volumeMounted) {
  const std::string error = "Impossible de créer " + folder;
  if (!volumeMounted) return error + " : le volume USB n'est plus branché";
  std::error_code ec;
  const bool made = std::filesystem::path(folder).is_absolute() &&
                    (std::filesystem::is_directory(folder, ec) || ::mkdir(folder.c_str(), 0777) == 0);
  return made ? std::string() : error;
}

}  // namespace core
