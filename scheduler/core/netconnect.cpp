#include "scheduler/core/netconnect.h"

#include <algorithm>

#include "scheduler/core/backuprun.h"
#include "scheduler/core/fields.h"

namespace core {

bool SameNetworkName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string NetworkShare(const std::string& path) {
  if (!IsNetworkPath(path)) return {};
  return ExtractField(path + "/", '/', 5);
}

std::vector<std::string> SharesOfComputer(const std::string& computer, const std::vector<std::string>& paths) {
  std::vector<std::string> shares;
  for (const std::string& path : paths) {
    if (!IsNetworkPath(path) || !SameNetworkName(NetworkComputer(path), computer)) continue;
    const std::string share = NetworkShare(path);
    if (share.empty()) continue;
    if (std::none_of(shares.begin(), shares.end(), [&](const std::string& s) { return SameNetworkName(s, share); }))
      shares.push_back(share);
  }
  return shares;
}

bool ConnectComputer(ShareAccess& access, const std::string& computer, const std::string& login,
                     const std::string& password, const std::vector<std::string>& shares) {
  if (computer.empty() || !access.Authenticate(computer, login, password)) return false;
  bool all = true;
  for (const std::string& share : shares) {
    if (access.Usable(computer, share)) continue;
    access.Mount(computer, share, login, password);
    all = access.Usable(computer, share) && all;
  }
  return all;
}

}  // namespace core
