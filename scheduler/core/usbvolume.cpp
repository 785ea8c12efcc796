#include "scheduler/core/usbvolume.h"

#include <algorithm>

#include "scheduler/core/duetime.h"
#include "scheduler/core/jobline.h"
#include "scheduler/core/timetable.h"

namespace core {

std::string UsbVolumeId(std::string_view mountPoint, const std::optional<std::string>& label,
                        std::optional<std::uint32_t> serial) {
  std::string id = std::string(mountPoint) + std::string(kUsbMarker);
  if (!label || !serial) return id;
  for (char c : *label) id += (c == '|' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
  return id + " - " + std::to_string(*serial);
}

std::string_view UsbVolumeKey(std::string_view identity) {
  const size_t at = identity.find(kUsbMarker);
  return at == std::string_view::npos ? std::string_view() : identity.substr(at);
}

bool UsbIdentityShort(std::string_view identity) { return UsbVolumeKey(identity) == kUsbMarker; }

bool UsbMountPointStorable(std::string_view mountPoint) {
  for (char c : mountPoint)
    if (c == '|' || c == '\n' || c == '\r') return false;
  return !mountPoint.empty();
}

std::vector<std::string> DeleteDoublets(std::vector<std::string> items) {
  std::stable_sort(items.begin(), items.end(),
                   [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  items.erase(std::unique(items.begin(), items.end(),
                          [](const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }),
              items.end());
  return items;
}

UsbArrival UsbArrivalJobs(const std::vector<std::string>& lines, std::string_view identity,
                          std::string_view mountPoint, const std::function<bool()>& stillMounted) {
  UsbArrival arrival;
  const std::string_view key = UsbVolumeKey(identity);
  if (key.empty() || UsbIdentityShort(identity)) return arrival;
  const std::string here = std::string(mountPoint) + std::string(kUsbMarker);
  for (const std::string& text : lines) {
    const ScheduleLine line = ScheduleLine::Parse(text);
    if (UsbVolumeKey(line.target) != key) continue;
    const std::string folder = UsbJobFolder(line.source, here);
    arrival.error = MakeUsbFolder(folder, stillMounted());
    if (!arrival.error.empty()) break;
    arrival.jobs.push_back(PromptJobLine(line.source, folder, line.filter, line.subFolders));
  }
  return arrival;
}

}  // namespace core
