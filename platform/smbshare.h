#pragma once
// Computers and shares of the local network over SMB: whether a computer answers (its share
// list read with libsmbclient), connecting a share (gio mount, or mount.cifs as root without a
// session bus; credentials never on a command line), and the local folder that serves a
// "//computer/share/..." path.
#include <string>

#include "platform/drives.h"

namespace platform {

struct SmbCredentials {
  std::string login, password;  // empty login: anonymous
};

struct SmbOptions {
  int port = 0;          // 0: the usual ports
  int timeoutMs = 2000;  // connection time-out
};

// Whether the share list of the computer can be opened with these credentials.
bool SmbComputerReachable(const std::string& computer, const SmbCredentials& credentials,
                          const SmbOptions& options = {});

// Credentials of the last connection made to a computer in this process (case-insensitive
// name); empty ones when none was made.
SmbCredentials RememberedCredentials(const std::string& computer);
void RememberCredentials(const std::string& computer, const SmbCredentials& credentials);

// Connects (mounts) one share; false with the reason in `error` when the tool failed or the
// names cannot be passed safely.
bool MountShare(const std::string& computer, const std::string& share, const SmbCredentials& credentials,
                std::string* error = nullptr);

// "//computer/share/rest" -> the local folder of a cifs/smb3 mount of that share, else the
// gvfs folder of it under $XDG_RUNTIME_DIR/gvfs; "" when neither is there. Names compare
// without regard to ASCII case.
std::string ShareLocalPath(const std::string& networkPath, const SystemRoots& roots = {});

// The gvfs folder name of a share: "smb-share:server=pc,share=s" and its variants with
// domain and user keys; the server and share it names ("" when it is no share folder).
struct GvfsShare {
  std::string server, share;
};
GvfsShare ParseGvfsShareName(const std::string& name);

}  // namespace platform
