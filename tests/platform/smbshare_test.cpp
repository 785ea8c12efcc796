#include "platform/smbshare.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/filecopy.h"
#include "tests/support/smbserver.h"
#include "tests/support/testenv.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using testenv::FreePort;
using testenv::HaveSmbd;
using testenv::SmbServer;

// The test server answers, however loaded the machine.
constexpr int kServerTimeoutMs = 30000;

TEST(SmbComputerReachable, ListsTheSharesOfARealServer) {
  if (!HaveSmbd()) GTEST_SKIP() << "samba (smbd) is not installed (scripts/install-deps.sh installs it)";
  SmbServer server;
  if (!server.up()) GTEST_SKIP() << "smbd could not start on a loopback port here";
  const SmbOptions options{server.port(), kServerTimeoutMs};
  EXPECT_TRUE(SmbComputerReachable("127.0.0.1", {"root", "pw1"}, options));
  EXPECT_FALSE(SmbComputerReachable("127.0.0.1", {"root", "wrong"}, options));
  EXPECT_FALSE(SmbComputerReachable("127.0.0.1", {"root", "pw1"}, {FreePort(), 500}));
  EXPECT_FALSE(SmbComputerReachable("-bad", {}, options));
}

TEST(SmbList, SharesThenFoldersOfARealServer) {
  if (!HaveSmbd()) GTEST_SKIP() << "samba (smbd) is not installed (scripts/install-deps.sh installs it)";
  SmbServer server;
  if (!server.up()) GTEST_SKIP() << "smbd could not start on a loopback port here";
  fs::create_directories(server.share() / "Sous dossier");
  testenv::writeFile(server.share() / "file.txt", "x");
  const SmbOptions options{server.port(), kServerTimeoutMs};
  auto kindOf = [](const std::vector<SmbEntry>& entries, const std::string& name) {
    for (const SmbEntry& e : entries)
      if (e.name == name) return static_cast<int>(e.kind);
    return -1;
  };
  const auto shares = SmbList(SmbUrl("127.0.0.1"), {"root", "pw1"}, options);
  ASSERT_TRUE(shares.has_value());
  EXPECT_EQ(kindOf(*shares, "public"), static_cast<int>(SmbKind::Share));
  EXPECT_EQ(kindOf(*shares, "IPC$"), static_cast<int>(SmbKind::Other));
  const auto folder = SmbList(SmbUrl("127.0.0.1", "public"), {"root", "pw1"}, options);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(kindOf(*folder, "Sous dossier"), static_cast<int>(SmbKind::Folder));
  EXPECT_EQ(kindOf(*folder, "file.txt"), static_cast<int>(SmbKind::Other));
  EXPECT_EQ(kindOf(*folder, "."), -1);
  EXPECT_FALSE(SmbList(SmbUrl("127.0.0.1", "public"), {"root", "wrong"}, options).has_value());
  EXPECT_FALSE(SmbList(SmbUrl("127.0.0.1", "absent"), {"root", "pw1"}, options).has_value());
}

TEST(SmbUrl, NamesArePercentEncoded) {
  EXPECT_EQ(SmbUrl("pc"), "smb://pc/");
  EXPECT_EQ(SmbUrl("pc", "My Docs"), "smb://pc/My%20Docs");
  EXPECT_EQ(SmbUrl("pc", "s", "a b//c#"), "smb://pc/s/a%20b/c%23");
  EXPECT_EQ(SmbUrl("pc", "été"), "smb://pc/été");
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
    EXPECT_FALSE(MountShare(computer, share, {"u", "p"}, {}, &error)) << computer << " " << share;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(MountShare("pc", "s", {"u", "p\nq"}, {}, &error));
  EXPECT_FALSE(MountShare("pc", "s", {"u,x=1", "p"}, {}, &error));
}

// Restores an environment variable when the scope ends.
class EnvScope {
 public:
  explicit EnvScope(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) old_ = v;
  }
  ~EnvScope() {
    if (had_) ::setenv(name_, old_.c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// The mount tools get the share (and the port) on their command line, the login and password
// only on their standard input or in a 0600 file that is gone once the tool has run.
TEST(MountShare, CommandsKeepThePasswordOffTheCommandLine) {
  EnvScope bus("DBUS_SESSION_BUS_ADDRESS");
  struct Seen {
    std::vector<std::string> argv;
    std::string input, credentials, credentialsFile;
    unsigned mode = 0;
  } seen;
  const CommandRunner runner = [&](const std::vector<std::string>& argv, const std::string& input, int,
                                   std::string*) {
    seen = Seen{argv, input, "", "", 0};
    // gvfs shows a mounted share in its folder.
    if (argv[0] == "gio")
      fs::create_directories(fs::path(std::getenv("XDG_RUNTIME_DIR")) / "gvfs" /
                             ("smb-share:server=pc,share=" + argv.back().substr(argv.back().rfind('/') + 1)));
    for (const std::string& a : argv) {
      const auto at = a.find("credentials=");
      if (at == std::string::npos) continue;
      seen.credentialsFile = a.substr(at + 12, a.find(',', at) - at - 12);
      struct stat st;
      if (::stat(seen.credentialsFile.c_str(), &st) == 0) seen.mode = st.st_mode & 0777;
      seen.credentials = testenv::readFile(seen.credentialsFile);
    }
    return true;
  };
  const SmbOptions port{4455, 1000};

  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  ASSERT_TRUE(MountShare("pc", "My Docs", {"bob", "s3cret"}, port, nullptr, runner));
  EXPECT_EQ(seen.argv, (std::vector<std::string>{"gio", "mount", "smb://pc:4455/My%20Docs"}));
  EXPECT_EQ(seen.input, "bob\n\ns3cret\n");
  ASSERT_TRUE(MountShare("pc", "public", {}, {}, nullptr, runner));
  EXPECT_EQ(seen.argv, (std::vector<std::string>{"gio", "mount", "-a", "smb://pc/public"}));
  EXPECT_EQ(seen.input, "");

  if (::geteuid() != 0) return;  // mount.cifs is used as root only
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  ASSERT_TRUE(MountShare("pc", "public", {"bob", "s3cret"}, port, nullptr, runner));
  ASSERT_EQ(seen.argv.size(), 5u);
  EXPECT_EQ(seen.argv[0], "mount.cifs");
  EXPECT_EQ(seen.argv[1], "//pc/public");
  EXPECT_TRUE(fs::is_directory(seen.argv[2]));
  EXPECT_NE(seen.argv[4].find(",port=4455"), std::string::npos) << seen.argv[4];
  for (const std::string& a : seen.argv) EXPECT_EQ(a.find("s3cret"), std::string::npos) << a;
  EXPECT_EQ(seen.credentials, "username=bob\npassword=s3cret\n");
  EXPECT_EQ(seen.mode, 0600u);
  EXPECT_FALSE(fs::exists(seen.credentialsFile));
}

// Where gvfs can serve mounts (a session bus, FUSE), a share of a real server is mounted with
// its login and then usable at its local folder; a wrong password mounts nothing.
TEST(MountShare, GvfsMountOfARealShare) {
  if (!HaveSmbd()) GTEST_SKIP() << "samba (smbd) is not installed (scripts/install-deps.sh installs it)";
  SmbServer server;
  if (!server.up()) GTEST_SKIP() << "smbd could not start on a loopback port here";
  testenv::GvfsSession session;
  if (!session.ok()) GTEST_SKIP() << session.why();
  const SmbOptions options{server.port(), kServerTimeoutMs};
  EXPECT_FALSE(ShareUsable("127.0.0.1", "public"));
  std::string error;
  EXPECT_FALSE(MountShare("127.0.0.1", "public", {"root", "wrong"}, options, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ShareUsable("127.0.0.1", "public"));
  ASSERT_TRUE(MountShare("127.0.0.1", "public", {"root", "pw1"}, options, &error)) << error;
  EXPECT_TRUE(ShareUsable("127.0.0.1", "public"));
  const std::string local = ShareLocalPath("//127.0.0.1/public/copie.txt");
  ASSERT_FALSE(local.empty());
  testenv::writeFile(local, "par le partage");
  EXPECT_EQ(testenv::readFile(server.share() / "copie.txt"), "par le partage");

  // A copy into the share replaces its target and keeps the source's time, though the share
  // knows no POSIX modes.
  const fs::path source = testenv::writeFile(testenv::makeDir("src") / "s.txt", "nouveau");
  const struct timespec old[2] = {{1577872802, 0}, {1577872802, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), old, 0), 0);
  const CopyResult copied = CopyFileReplacing(source, local);
  ASSERT_TRUE(copied.ok) << copied.message;
  EXPECT_EQ(testenv::readFile(server.share() / "copie.txt"), "nouveau");
  struct stat st;
  ASSERT_EQ(::stat(local.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1577872802);
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
  const bool mounted = MountShare("192.0.2.1", "public", {"bob", "secret"}, {}, &error);
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
