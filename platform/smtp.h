#pragma once
// Sending one mail over SMTP (libcurl), blocking until the exchange ends. TLS through STARTTLS
// whenever the server offers it (a server that does not still gets the mail in clear), or from
// the start; certificates are verified.
#include <string>

namespace platform {

struct SmtpRequest {
  std::string host;
  int port = 25;
  bool implicitTls = false;      // TLS from the start (smtps) instead of STARTTLS
  std::string caFile;           // certificates to trust; "" = the system's
  std::string login, password;  // AUTH LOGIN only when both are set; never sent in clear to
                                // a server that offers TLS
  std::string from, to;
  std::string message;          // the whole text: headers, blank line, body (CRLF)
  long connectTimeoutMs = 300;  // the TCP connection; TLS and the SMTP exchange count below
  long stallSeconds = 15;        // the exchange is given up when no byte moves this long
  long totalTimeoutMs = 30000;   // and in any case after this long
};

enum class SmtpOutcome {
  Sent,
  NotConnected,  // no connection within the time-out, or the server's greeting failed
  Failed,        // the exchange failed after the connection
};

struct SmtpResult {
  SmtpOutcome outcome = SmtpOutcome::Failed;
  std::string error;  // why it was not sent, in French
  bool tls = false;   // the mail went over TLS
};

SmtpResult SendMail(const SmtpRequest& request);

}  // namespace platform
