#pragma once
// Computers and shares of the local network over SMB: listing the network (libsmbclient),
// whether a computer answers, connecting a share (gio mount, or mount.cifs as root without a
// session bus; credentials never on a command line), and the local folder that serves a
// "//computer/share/..." path.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/drives.h"

namespace platform {

struct SmbCredentials {
  std::string login, password;  // empty login: anonymous
};

struct SmbOptions {
  int port = 0;          // 0: the usual ports
  int timeoutMs = 2000;  // connection time-out
};

enum class SmbKind { Workgroup, Computer, Share, Folder, Other };

struct SmbEntry {
  std::string name;
  SmbKind kind = SmbKind::Other;
};

// "smb://" URL of a computer, a share or a folder in it (names percent-encoded).
std::string SmbUrl(const std::string& computer, const std::string& share = {}, const std::string& folder = {});

// What a "smb://" URL holds: "smb://" the workgroups, "smb://WG" its computers, "smb://pc"
// the shares (printers and IPC included, as the server lists them), "smb://pc/share/..." the
// entries of a folder. Nothing when it cannot be opened. Safe to call from several threads
// (the calls run one after the other).
std::optional<std::vector<SmbEntry>> SmbList(const std::string& url, const SmbCredentials& credentials,
                                             const SmbOptions& options = {});

// Whether the share list of the computer can be opened with these credentials.
bool SmbComputerReachable(const std::string& computer, const SmbCredentials& credentials,
                          const SmbOptions& options = {});

// Credentials of the last connection made to a computer in this process (case-insensitive
// name); empty ones when none was made.
SmbCredentials RememberedCredentials(const std::string& computer);
void RememberCredentials(const std::string& computer, const SmbCredentials& credentials);

// Runs a program (argv[0] looked up in PATH) with `input` on its standard input; true when it
// exits with 0 within the time, else false with the reason in `error`.
using CommandRunner = std::function<bool(const std::vector<std::string>& argv, const std::string& input,
                                         int timeoutMs, std::string* error)>;
bool RunCommand(const std::vector<std::string>& argv, const std::string& input, int timeoutMs, std::string* error);

// Connects (mounts) one share; false with the reason in `error` when the tool failed or the
// names cannot be passed safely. `run` runs the mount tool (tests watch it).
bool MountShare(const std::string& computer, const std::string& share, const SmbCredentials& credentials,
                const SmbOptions& options = {}, std::string* error = nullptr, const CommandRunner& run = RunCommand);

// Whether a local folder serves the share now.
bool ShareUsable(const std::string& computer, const std::string& share, const SystemRoots& roots = {});

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
