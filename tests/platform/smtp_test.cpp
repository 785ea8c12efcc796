#include "platform/smtp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/smtpserver.h"
#include "tests/support/testca.h"
#include "tests/support/testenv.h"

namespace platform {
namespace {

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
  if (!testenv::HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  testenv::SmtpServer server("alice:s3cret");
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
  EXPECT_EQ(refused.error, "l'identifiant ou le mot de passe a été refusé par le serveur de messagerie (réponse 535)");
}

// The login goes only inside TLS when the server offers it (STARTTLS or TLS from the start);
// a server without TLS still gets the mail; a certificate the client cannot verify stops the
// exchange before any login.
TEST(SendMail, TlsWheneverTheServerOffersIt) {
  if (!testenv::HaveAiosmtpd()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/install-deps.sh installs it)";
  if (!testenv::HaveOpenssl()) GTEST_SKIP() << "openssl is not installed (scripts/install-deps.sh installs it)";
  const testenv::TestCa ca = testenv::MakeTestCa();
  ASSERT_TRUE(ca.ok);
  const std::vector<std::string> tls{"--cert", ca.serverCert.string(), "--key", ca.serverKey.string()};
  std::vector<std::string> implicit = tls;
  implicit.push_back("--implicit-tls");
  struct {
    const char* name;
    std::vector<std::string> server;
    bool implicitTls, trustCa;
    SmtpOutcome outcome;
    bool tls;
    const char* authLog;
  } cases[] = {
      {"starttls", tls, false, true, SmtpOutcome::Sent, true, "tls LOGIN alice\n"},
      {"implicit", implicit, true, true, SmtpOutcome::Sent, true, "tls LOGIN alice\n"},
      {"no tls", {}, false, true, SmtpOutcome::Sent, false, "plain LOGIN alice\n"},
      {"untrusted", tls, false, false, SmtpOutcome::Failed, false, ""},
  };
  for (const auto& c : cases) {
    testenv::SmtpServer server("alice:s3cret", c.server);
    ASSERT_GT(server.port(), 0) << c.name;
    SmtpRequest r = Request(server.port());
    r.login = "alice";
    r.password = "s3cret";
    r.implicitTls = c.implicitTls;
    if (c.trustCa) r.caFile = ca.caCert.string();
    const SmtpResult result = SendMail(r);
    EXPECT_EQ(result.outcome, c.outcome) << c.name << ": " << result.error;
    EXPECT_EQ(result.tls, c.tls) << c.name;
    EXPECT_EQ(server.AuthLog(), c.authLog) << c.name;
    if (c.outcome == SmtpOutcome::Sent)
      EXPECT_EQ(server.Message(1).rfind("LOGIN alice\nmoi@example.org\n", 0), 0u) << c.name;
    else
      EXPECT_FALSE(server.Received(1)) << c.name;
    if (!c.trustCa) {
      EXPECT_EQ(result.error, "le certificat du serveur de messagerie n'a pas pu être vérifié");
    }
  }
}

// A plain SMTP peer on a free loopback port that waits `greetAfter` before its greeting (or
// never greets), for as many connections as come. `answers` replace its replies to the
// commands they start with ("." for the end of the message).
class SlowServer {
 public:
  using Answers = std::vector<std::pair<std::string, std::string>>;
  explicit SlowServer(std::chrono::milliseconds greetAfter, bool greets = true, Answers answers = {})
      : answers_(std::move(answers)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 4);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, greetAfter, greets] {
      for (;;) {
        const int c = ::accept(listen_, nullptr, nullptr);
        if (c < 0) return;
        if (greets) {
          std::this_thread::sleep_for(greetAfter);  // a slow server, not a synchronisation
          Serve(c);
        } else {
          char byte;
          while (::read(c, &byte, 1) > 0) {
          }
        }
        ::close(c);
      }
    });
  }
  ~SlowServer() {
    ::shutdown(listen_, SHUT_RDWR);
    ::close(listen_);
    thread_.join();
  }
  int port() const { return port_; }
  int mails() const { return mails_; }

 private:
  void Serve(int c) {
    auto say = [c](const std::string& text) { return ::write(c, text.data(), text.size()) > 0; };
    std::string line;
    bool data = false;
    say("220 lent\r\n");
    char byte;
    while (::read(c, &byte, 1) == 1) {
      line += byte;
      if (byte != '\n') continue;
      const auto answer = std::find_if(answers_.begin(), answers_.end(), [&](const auto& a) {
        return a.first == "." ? data && line == ".\r\n" : !data && line.rfind(a.first, 0) == 0;
      });
      if (answer != answers_.end()) {
        data = false;
        say(answer->second + "\r\n");
      } else if (data) {
        if (line == ".\r\n") data = false, ++mails_, say("250 ok\r\n");
      } else if (line.rfind("EHLO", 0) == 0) {
        say("250 lent\r\n");
      } else if (line.rfind("DATA", 0) == 0) {
        data = true;
        say("354 suite\r\n");
      } else if (line.rfind("QUIT", 0) == 0) {
        say("221 fin\r\n");
        return;
      } else {
        say("250 ok\r\n");
      }
      line.clear();
    }
  }
  Answers answers_;
  int listen_ = -1, port_ = 0;
  std::atomic<int> mails_{0};
  std::thread thread_;
};

// The 300 ms are for the connection only; a server slow to greet still gets the mail, and one
// that never speaks is given up after the bound of the whole exchange.
TEST(SendMail, ConnectionTimeOutThenABoundForTheExchange) {
  SlowServer slow(std::chrono::milliseconds(600));
  SmtpRequest r = Request(slow.port());
  r.connectTimeoutMs = 300;
  const SmtpResult sent = SendMail(r);
  EXPECT_EQ(sent.outcome, SmtpOutcome::Sent) << sent.error;
  EXPECT_EQ(slow.mails(), 1);

  SlowServer silent(std::chrono::milliseconds(0), false);
  r = Request(silent.port());
  r.totalTimeoutMs = 500;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendMail(r).outcome, SmtpOutcome::NotConnected);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// A server that refuses a step of the exchange: the user reads which step, in French, with the
// server's code, and no mail counts as sent.
TEST(SendMail, ARefusedStepIsSaidInFrench) {
  const struct {
    const char* command;
    const char* reply;
    const char* error;
  } cases[] = {
      {"MAIL", "550 5.1.0 sender rejected", "l'adresse de l'expéditeur a été refusée par le serveur de messagerie (réponse 550)"},
      {"RCPT", "550 5.1.1 no such user", "l'adresse du destinataire a été refusée par le serveur de messagerie (réponse 550)"},
      {"DATA", "554 5.7.1 go away", "le serveur de messagerie a refusé le message (réponse 554)"},
      {".", "552 5.3.4 message too big", "le serveur de messagerie a refusé le message (réponse 552)"},
      {"EHLO", "554 5.7.1 not welcome", "le serveur de messagerie a refusé la connexion (réponse 554)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    SlowServer::Answers answers{{c.command, c.reply}};
    if (std::string(c.command) == "EHLO") answers.push_back({"HELO", c.reply});
    SlowServer server(std::chrono::milliseconds(0), true, answers);
    const SmtpResult result = SendMail(Request(server.port()));
    EXPECT_EQ(result.outcome, SmtpOutcome::Failed);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(server.mails(), 0);
  }
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
