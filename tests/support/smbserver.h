#pragma once
// Real SMB peers for the network tests. SmbServer: smbd on a free loopback port with the share
// "public" (a folder of the test) and one user, all its state in the test's folder. GvfsSession:
// a private session bus (dbus-daemon) on which gvfs serves mounts as FUSE folders under
// $XDG_RUNTIME_DIR/gvfs, ready once that folder is mounted; everything it started ends with it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testenv.h"

namespace testenv {

inline int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

inline bool Listening(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

inline bool HaveSmbd() { return std::system("command -v smbd >/dev/null && command -v smbpasswd >/dev/null") == 0; }

class SmbServer {
 public:
  // The user must exist on this machine (smbd maps it to a local account).
  explicit SmbServer(const std::string& user = "root", const std::string& password = "pw1")
      : dir_(makeDir("smb")) {
    for (const char* d : {"private", "lock", "state", "cache", "pid", "ncalrpc", "share"})
      std::filesystem::create_directory(dir_ / d);
    // The free port may be taken by another process before smbd binds it: smbd then ends, and
    // it starts again on another one.
    for (int attempt = 0; attempt < 5 && !up_; ++attempt) Start(user, password);
  }
  ~SmbServer() { Stop(); }
  SmbServer(const SmbServer&) = delete;
  SmbServer& operator=(const SmbServer&) = delete;

  bool up() const { return up_; }
  int port() const { return port_; }
  // The folder the share "public" serves.
  std::filesystem::path share() const { return dir_ / "share"; }

 private:
  void Start(const std::string& user, const std::string& password) {
    port_ = FreePort();
    const std::string d = dir_.string();
    writeFile(dir_ / "smb.conf",
              "[global]\n smb ports = " + std::to_string(port_) +
                  "\n interfaces = 127.0.0.1\n bind interfaces only = yes\n private dir = " + d +
                  "/private\n lock directory = " + d + "/lock\n state directory = " + d + "/state\n cache directory = " +
                  d + "/cache\n pid directory = " + d + "/pid\n ncalrpc dir = " + d + "/ncalrpc\n log file = " + d +
                  "/log\n passdb backend = tdbsam:" + d +
                  "/passdb.tdb\n disable netbios = yes\n server role = standalone server\n"
                  " load printers = no\n printcap name = /dev/null\n disable spoolss = yes\n"
                  "[public]\n path = " + d + "/share\n read only = no\n");
    const std::string conf = (dir_ / "smb.conf").string();
    const std::string add = "printf '%s\\n%s\\n' '" + password + "' '" + password + "' | smbpasswd -c '" + conf +
                            "' -a -s '" + user + "' >/dev/null 2>&1";
    if (std::system(add.c_str()) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      const std::string log = (dir_ / "smbd.out").string();
      if (!std::freopen(log.c_str(), "a", stdout) || !std::freopen(log.c_str(), "a", stderr)) ::_exit(127);
      ::execlp("smbd", "smbd", "--foreground", "--no-process-group", "-s", conf.c_str(), nullptr);
      ::_exit(127);
    }
    // Ready once it accepts connections while it runs (a loaded machine may take its time).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      if (Listening(port_)) break;
      if (std::chrono::steady_clock::now() >= deadline) {
        Stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Still running: the connection reached this smbd, not another process that took the port.
    up_ = ::waitpid(pid_, nullptr, WNOHANG) == 0;
    if (!up_) {
      pid_ = -1;
      return;
    }
    // The share list comes from RPC helpers that smbd starts on the first request; on a loaded
    // machine that first request can be dropped. Ready once a listing answers.
    const std::string list = "smbclient -s '" + conf + "' -L //127.0.0.1 -p " + std::to_string(port_) + " -U '" +
                             user + "%" + password + "' >/dev/null 2>&1";
    while (std::system(list.c_str()) != 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        Stop();
        up_ = false;
        return;
      }
    }
  }
  // smbd and its children end with its process group. The RPC helpers it starts on demand
  // (samba-dcerpcd and its workers) make sessions of their own: they are found by this
  // server's configuration file on their command line, and the stop waits for every one.
  void Stop() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    const std::string conf = (dir_ / "smb.conf").string();
    for (const int signal : {SIGTERM, SIGKILL}) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
      for (std::vector<pid_t> left; !(left = ProcessesOf(conf)).empty();) {
        for (const pid_t p : left) ::kill(p, signal);
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  // Running processes with the configuration file as an argument ("-s FILE", "--configfile=FILE").
  static std::vector<pid_t> ProcessesOf(const std::string& conf) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream in(entry.path() / "cmdline", std::ios::binary);
      for (std::string arg; std::getline(in, arg, '\0');)
        if (arg == conf || arg == "--configfile=" + conf) {
          found.push_back(static_cast<pid_t>(std::stol(name)));
          break;
        }
    }
    return found;
  }

  std::filesystem::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool up_ = false;
};

class GvfsSession {
 public:
  GvfsSession() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || ::access("/dev/fuse", R_OK | W_OK) != 0 || std::system("command -v gio >/dev/null") != 0 ||
        std::system("command -v dbus-daemon >/dev/null") != 0 ||
        std::system("test -x /usr/libexec/gvfsd-fuse && test -x /usr/libexec/gvfsd-smb") != 0) {
      why_ = "gvfs with its SMB backend and FUSE folders, or /dev/fuse, is missing here";
      return;
    }
    runtime_ = runtime;
    const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    oldBus_ = old ? old : "";
    hadBus_ = old != nullptr;
    int address[2];
    if (::pipe(address) != 0) return;
    const std::string log = (makeDir("dbus") / "dbus.out").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      ::close(address[0]);
      if (!std::freopen(log.c_str(), "w", stderr)) ::_exit(127);
      const std::string fd = "--print-address=" + std::to_string(address[1]);
      ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", fd.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(address[1]);
    std::string line;
    char c;
    while (::read(address[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(address[0]);
    if (line.empty()) {
      why_ = "dbus-daemon did not start";
      return;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", line.c_str(), 1);
    // gvfsd starts on the first call to it and then mounts its FUSE folder on its own: the
    // session is ready once that folder is mounted, not when the bus answers.
    if (std::system("dbus-send --session --print-reply --reply-timeout=60000 --dest=org.gtk.vfs.Daemon "
                    "/org/gtk/vfs/Daemon org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1") != 0) {
      why_ = "gvfsd did not start on the test's session bus";
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(ok_ = FuseFolderMounted()) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!ok_) why_ = "gvfs did not mount its FUSE folder in " + runtime_ + "/gvfs (FUSE mounts refused here?)";
  }
  ~GvfsSession() {
    if (pid_ > 0) {
      // gvfs ends with its bus and releases its FUSE folder then; one still mounted after a
      // while is detached, so that removing the test's folder never walks into the share.
      ::kill(-pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (FuseFolderMounted() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (FuseFolderMounted()) (void)std::system(("umount -l '" + runtime_ + "/gvfs' >/dev/null 2>&1").c_str());
    }
    if (hadBus_) ::setenv("DBUS_SESSION_BUS_ADDRESS", oldBus_.c_str(), 1);
    else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  GvfsSession(const GvfsSession&) = delete;
  GvfsSession& operator=(const GvfsSession&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  bool FuseFolderMounted() const {
    std::ifstream mounts("/proc/self/mountinfo");
    const std::string folder = runtime_ + "/gvfs";
    std::string line;
    while (std::getline(mounts, line)) {
      std::istringstream fields(line);
      std::string id, parent, device, root, point;
      if (fields >> id >> parent >> device >> root >> point && point == folder) return true;
    }
    return false;
  }

  pid_t pid_ = -1;
  bool ok_ = false, hadBus_ = false;
  std::string why_, runtime_, oldBus_;
};

}  // namespace testenv
