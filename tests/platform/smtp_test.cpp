#include "platform/smtp.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/testenv.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string ServerScript() { return (testenv::fixtures().parent_path() / "support/smtp_server.py").string(); }

// aiosmtpd on a free loopback port, stopped when the test ends.
class SmtpServer {
 public:
  explicit SmtpServer(const std::string& login = "") : out_(testenv::makeDir("mail")) {
    const std::string script = ServerScript();
    int in[2], outPipe[2];
    if (::pipe(in) != 0 || ::pipe(outPipe) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(outPipe[1], 1);
      ::close(in[1]);
      ::close(outPipe[0]);
      if (login.empty())
        ::execl("/usr/bin/python3", "python3", script.c_str(), out_.c_str(), nullptr);
      else
        ::execl("/usr/bin/python3", "python3", script.c_str(), out_.c_str(), "--login", login.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(outPipe[1]);
    stdin_ = in[1];
    std::string line;
    char c;
    while (::read(outPipe[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(outPipe[0]);
    port_ = std::atoi(line.c_str());
  }
  ~SmtpServer() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  // The n-th message received (1-based), waited for a little; "" when none came.
  std::string Message(int n) const {
    const fs::path path = out_ / (std::to_string(n) + ".txt");
    for (int i = 0; i < 100 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path) ? testenv::readFile(path) : "";
  }

 private:
  fs::path out_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

bool HaveAiosmtpd() { return ::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") == 0; }

SmtpRequest Request(int port) {
  SmtpRequest r;
  r.host = "127.0.0.1";
  r.port = port;
  r.connectTimeoutMs = 2000;
  r.from = "moi@example.org";
  r.to = "toi@example.org";
  r.message = "Subject: essai\r\n\r\nligne\r\n.\r\nfin\r\n";
  return r;
}

TEST(SendMail, AuthenticatesWithLoginOnlyWhenBothAreSet) {
  if (!HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  SmtpServer server("alice:s3cret");
  ASSERT_GT(server.port(), 0);

  SmtpRequest r = Request(server.port());
  r.login = "alice";
  r.password = "s3cret";
  ASSERT_EQ(SendMail(r).outcome, SmtpOutcome::Sent);
  const std::string first = server.Message(1);
  EXPECT_EQ(first.rfind("LOGIN alice\nmoi@example.org\ntoi@example.org\n", 0), 0u) << first;
  // A lone "." line of the body survives the transfer.
  EXPECT_NE(first.find("ligne\r\n.\r\nfin"), std::string::npos) << first;

  for (auto [login, password] : {std::pair{"alice", ""}, std::pair{"", "s3cret"}}) {
    r.login = login;
    r.password = password;
    EXPECT_EQ(SendMail(r).outcome, SmtpOutcome::Sent);
  }
  EXPECT_EQ(server.Message(2).rfind("-\n", 0), 0u);
  EXPECT_EQ(server.Message(3).rfind("-\n", 0), 0u);

  r.login = "alice";
  r.password = "wrong";
  const SmtpResult refused = SendMail(r);
  EXPECT_EQ(refused.outcome, SmtpOutcome::Failed);
  EXPECT_FALSE(refused.error.empty());
}

TEST(SendMail, NoServerIsNotConnected) {
  // Port 1: nobody listens there.
  SmtpRequest r = Request(1);
  r.connectTimeoutMs = 300;
  EXPECT_EQ(SendMail(r).outcome, SmtpOutcome::NotConnected);
  r.host = "192.0.2.1";  // TEST-NET-1: never answers
  EXPECT_EQ(SendMail(r).outcome, SmtpOutcome::NotConnected);
}

TEST(SendMail, RefusesLineBreaksInTheEnvelope) {
  SmtpRequest r = Request(1);
  r.to = "toi@example.org\r\nRCPT TO:<x@y>";
  const SmtpResult result = SendMail(r);
  EXPECT_EQ(result.outcome, SmtpOutcome::Failed);
}

}  // namespace
}  // namespace platform
