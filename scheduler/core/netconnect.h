#pragma once
// The connection command of the network page and of the reconnection: the computer must
// accept the login, then every share of it that the jobs use and no local folder serves yet is
// mounted. Qt-free; the mounts go through ShareAccess.
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Computer and share names compare without regard to ASCII case.
bool SameNetworkName(std::string_view a, std::string_view b);

// The share of a "//computer/share/..." path; "" when it names none.
std::string NetworkShare(const std::string& path);

// Shares of `computer` that these paths name, first seen first, without doublets.
std::vector<std::string> SharesOfComputer(const std::string& computer, const std::vector<std::string>& paths);

class ShareAccess {
 public:
  virtual ~ShareAccess() = default;
  // Whether the computer answers and accepts the login.
  virtual bool Authenticate(const std::string& computer, const std::string& login, const std::string& password) = 0;
  // Whether a local folder serves the share now.
  virtual bool Usable(const std::string& computer, const std::string& share) = 0;
  virtual void Mount(const std::string& computer, const std::string& share, const std::string& login,
                     const std::string& password) = 0;
};

// True when the computer accepts the login and every one of `shares` is usable afterwards.
bool ConnectComputer(ShareAccess& access, const std::string& computer, const std::string& login,
                     const std::string& password, const std::vector<std::string>& shares);

}  // namespace core
