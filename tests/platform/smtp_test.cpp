#include "platform/smtp.h"

#include <gtest/gtest.h>

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
  EXPECT_FALSE(refused.error.empty());
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
