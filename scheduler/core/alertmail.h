#pragma once
// The alert e-mail: its required settings, its body lines and its MIME text.
#include <string>
#include <vector>

namespace core {

struct AlertMailFields {
  std::string smtp, from, to, subject;  // Smtp_vz, Email_v, Email_D, Sujet_vz
};

bool MailFieldsMissing(const AlertMailFields& fields);

// The SMTP server setting: "host", "host:port", "[v6 address]:port" or a bare IPv6 address.
// Port 465 means TLS from the start. An unreadable port leaves the text as the host, port 25.
struct SmtpServerAddress {
  std::string host;
  int port = 25;
  bool implicitTls = false;
};
SmtpServerAddress ParseSmtpServer(const std::string& text);
// The message box text shown when a required field is empty (lines joined by CR).
std::string MissingMailFieldsText();

// Body lines: the fixed lines, the error text, the date and time, then the user's own lines.
std::vector<std::string> AlertMailBody(const std::string& errorText, const std::string& dateTime,
                                       const std::vector<std::string>& messageLines);

// The whole message as sent: headers (line breaks in a header value become blanks, non-ASCII
// values are encoded words), then the body as UTF-8 plain text in base64, CRLF line ends.
// `date` is an RFC 5322 date text.
std::string ComposeMail(const AlertMailFields& fields, const std::vector<std::string>& bodyLines,
                        const std::string& date);

// RFC 5322 date of a time, in local time with its offset: "Thu, 10 Dec 2026 09:45:00 +0100".
std::string MailDate(long long unixTime);

}  // namespace core
