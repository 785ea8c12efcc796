#include "platform/smbshare.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/testenv.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

int FreePort() {
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

bool Listening(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// smbd on a free loopback port with the share "public" and the user root:pw1, all its state
// in the test's folder.
class SmbServer {
 public:
  SmbServer() : dir_(testenv::makeDir("smb")), port_(FreePort()) {
    for (const char* d : {"private", "lock", "state", "cache", "pid", "ncalrpc", "share"}) fs::create_directory(dir_ / d);
    const std::string d = dir_.string();
    testenv::writeFile(dir_ / "smb.conf",
                       "[global]\n smb ports = " + std::to_string(port_) +
                           "\n interfaces = 127.0.0.1\n bind interfaces only = yes\n private dir = " + d +
                           "/private\n lock directory = " + d + "/lock\n state directory = " + d +
                           "/state\n cache directory = " + d + "/cache\n pid directory = " + d +
                           "/pid\n ncalrpc dir = " + d + "/ncalrpc\n log file = " + d +
                           "/log\n passdb backend = tdbsam:" + d +
                           "/passdb.tdb\n disable netbios = yes\n server role = standalone server\n"
                           " load printers = no\n printcap name = /dev/null\n disable spoolss = yes\n"
                           "[public]\n path = " + d + "/share\n read only = no\n");
    const std::string conf = (dir_ / "smb.conf").string();
    if (::system(("printf 'pw1\\npw1\\n' | smbpasswd -c '" + conf + "' -a -s root >/dev/null 2>&1").c_str()) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      const std::string log = (dir_ / "smbd.out").string();
      std::freopen(log.c_str(), "w", stdout);
      std::freopen(log.c_str(), "w", stderr);
      ::execlp("smbd", "smbd", "--foreground", "--no-process-group", "-s", conf.c_str(), nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 100 && !(up_ = Listening(port_)); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~SmbServer() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool up() const { return up_; }
  int port() const { return port_; }

 private:
  fs::path dir_;
  int port_;
  pid_t pid_ = -1;
  bool up_ = false;
};

bool HaveSmbd() { return ::system("command -v smbd >/dev/null && command -v smbpasswd >/dev/null") == 0; }

TEST(SmbComputerReachable, ListsTheSharesOfARealServer) {
  if (!HaveSmbd()) GTEST_SKIP() << "samba (smbd) is not installed (scripts/install-deps.sh installs it)";
  SmbServer server;
  if (!server.up()) GTEST_SKIP() << "smbd could not start on a loopback port here";
  const SmbOptions options{server.port(), 2000};
  EXPECT_TRUE(SmbComputerReachable("127.0.0.1", {"root", "pw1"}, options));
  EXPECT_FALSE(SmbComputerReachable("127.0.0.1", {"root", "wrong"}, options));
  EXPECT_FALSE(SmbComputerReachable("127.0.0.1", {"root", "pw1"}, {FreePort(), 500}));
  EXPECT_FALSE(SmbComputerReachable("-bad", {}, options));
}

TEST(SmbCredentials, RememberedPerComputerWithoutRegardToCase) {
  EXPECT_EQ(RememberedCredentials("NOBODY-HERE").login, "");
  RememberCredentials("Server", {"bob", "pw"});
  EXPECT_EQ(RememberedCredentials("SERVER").login, "bob");
  EXPECT_EQ(RememberedCredentials("server").password, "pw");
}

TEST(MountShare, RefusesNamesThatCannotBePassedSafely) {
  const std::pair<std::string, std::string> cases[] = {
      {"-o", "share"}, {"pc", "a,b"}, {"pc", ""}, {"", "s"}, {"pc/x", "s"}, {"pc", "s\n"},
  };
  for (const auto& [computer, share] : cases) {
    std::string error;
    EXPECT_FALSE(MountShare(computer, share, {"u", "p"}, &error)) << computer << " " << share;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(MountShare("pc", "s", {"u", "p\nq"}, &error));
  EXPECT_FALSE(MountShare("pc", "s", {"u,x=1", "p"}, &error));
}

// As root without a session bus the share goes to mount.cifs; its credentials file never
// outlives the call, whatever the outcome.
TEST(MountShare, CredentialsFileIsRemovedAfterMountCifs) {
  if (::geteuid() != 0) GTEST_SKIP() << "mount.cifs is used as root only";
  if (::system("command -v mount.cifs >/dev/null") != 0)
    GTEST_SKIP() << "mount.cifs is not installed (scripts/install-deps.sh installs cifs-utils)";
  const fs::path tmp = testenv::makeDir("tmp");
  const std::string oldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  const std::string bus = std::getenv("DBUS_SESSION_BUS_ADDRESS") ? std::getenv("DBUS_SESSION_BUS_ADDRESS") : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  std::string error;
  // Nothing serves SMB on 192.0.2.1 (TEST-NET-1), and this machine may not mount cifs at all.
  const bool mounted = MountShare("192.0.2.1", "public", {"bob", "secret"}, &error);
  if (oldTmp.empty()) ::unsetenv("TMPDIR"); else ::setenv("TMPDIR", oldTmp.c_str(), 1);
  if (!bus.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
  EXPECT_FALSE(mounted);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_empty(tmp));
}

TEST(ShareLocalPath, CifsMountThenGvfsFolder) {
  const fs::path proc = testenv::makeDir("proc");
  fs::create_directories(proc / "self");
  testenv::writeFile(proc / "self/mountinfo",
                     "22 1 0:21 / / rw - ext4 /dev/sda1 rw\n"
                     "40 22 0:40 / /mnt/old rw - cifs //nas/Backup rw\n"
                     "41 22 0:41 / /mnt/nas\\040backup rw - cifs //NAS/backup/ rw\n"
                     "42 22 0:42 / /mnt/other rw - nfs //nas/docs rw\n");
  const SystemRoots roots{proc.string(), "/sys"};
  EXPECT_EQ(ShareLocalPath("//nas/backup/a/b", roots), "/mnt/nas backup/a/b");
  EXPECT_EQ(ShareLocalPath("//Nas/Backup", roots), "/mnt/nas backup");
  EXPECT_EQ(ShareLocalPath("//nas", roots), "");
  EXPECT_EQ(ShareLocalPath("/local/path", roots), "");

  const fs::path runtime = std::getenv("XDG_RUNTIME_DIR");
  fs::create_directories(runtime / "gvfs/smb-share:domain=WG,server=nas,share=my%20docs,user=bob");
  EXPECT_EQ(ShareLocalPath("//NAS/My Docs/x", roots),
            (runtime / "gvfs/smb-share:domain=WG,server=nas,share=my%20docs,user=bob").string() + "/x");
  EXPECT_EQ(ShareLocalPath("//nas/docs", roots), "");  // an nfs mount serves no share
}

TEST(ParseGvfsShareName, Cases) {
  struct {
    const char* name;
    const char* server;
    const char* share;
  } cases[] = {
      {"smb-share:server=pc,share=public", "pc", "public"},
      {"smb-share:domain=WG,server=pc,share=a%2Cb,user=u", "pc", "a,b"},
      {"smb-share:server=pc", "", ""},
      {"sftp:host=pc", "", ""},
      {"smb-share:server=pc,share=bad%2", "", ""},
  };
  for (const auto& c : cases) {
    const GvfsShare g = ParseGvfsShareName(c.name);
    EXPECT_EQ(g.server, c.server) << c.name;
    EXPECT_EQ(g.share, c.share) << c.name;
  }
}

}  // namespace
}  // namespace platform

// libsmbclient keeps talloc memory of its own until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libtalloc.so\n"; }
