#pragma once
// Sending one mail over SMTP (libcurl, smtp://), blocking until the exchange ends.
#include <string>

namespace platform {

struct SmtpRequest {
  std::string host;
  int port = 25;
  std::string login, password;  // AUTH LOGIN only when both are set
  std::string from, to;
  std::string message;          // the whole text: headers, blank line, body (CRLF)
  long connectTimeoutMs = 300;
  long stallSeconds = 30;        // the exchange is given up when no byte moves this long
};

enum class SmtpOutcome {
  Sent,
  NotConnected,  // no connection within the time-out, or the server's greeting failed
  Failed,        // the exchange failed after the connection
};

struct SmtpResult {
  SmtpOutcome outcome = SmtpOutcome::Failed;
  std::string error;  // the client's text when not sent
};

SmtpResult SendMail(const SmtpRequest& request);

}  // namespace platform
