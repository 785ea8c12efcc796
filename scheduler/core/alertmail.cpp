#include "scheduler/core/alertmail.h"

#include <cstdio>
#include <ctime>

namespace core {
namespace {

std::string Base64(const std::string& bytes) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// A header value on one line; an encoded word when it is not plain ASCII.
std::string HeaderValue(const std::string& value) {
  std::string line;
  bool ascii = true;
  for (char c : value) {
    if (c == '\r' || c == '\n') c = ' ';
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    line += c;
  }
  return ascii ? line : "=?UTF-8?B?" + Base64(line) + "?=";
}

}  // namespace

bool MailFieldsMissing(const AlertMailFields& f) {
  return f.smtp.empty() || f.from.empty() || f.to.empty() || f.subject.empty();
}

SmtpServerAddress ParseSmtpServer(const std::string& text) {
  SmtpServerAddress a;
  std::string t = text;
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.erase(0, 1);
  a.host = t;
  std::size_t colon = std::string::npos;
  if (!t.empty() && t.front() == '[') {
    const std::size_t close = t.find(']');
    if (close == std::string::npos) return a;
    a.host = t.substr(1, close - 1);
    if (close + 1 == t.size()) return a;
    if (t[close + 1] != ':') return SmtpServerAddress{t, 25, false};
    colon = close + 1;
  } else {
    colon = t.find(':');
    if (colon == std::string::npos || t.find(':', colon + 1) != std::string::npos) return a;  // no port, or IPv6
    a.host = t.substr(0, colon);
  }
  const std::string digits = t.substr(colon + 1);
  int port = 0;
  bool ok = !digits.empty() && digits.size() <= 5;
  for (char c : digits) {
    if (c < '0' || c > '9') ok = false;
    else port = port * 10 + (c - '0');
  }
  if (!ok || port < 1 || port > 65535 || a.host.empty()) return SmtpServerAddress{t, 25, false};
  a.port = port;
  a.implicitTls = port == 465;
  return a;
}

std::string MissingMailFieldsText() {
  return "Vous devez indiquer les renseignements suivant :\r\rVotre SMTP\rVotre E-mail\r"
         "L'e-mail du destinataire\rLe sujet de l'E-mail\r\rOu décochez l'option \"Envoyer E-mail\" ";
}

std::vector<std::string> AlertMailBody(const std::string& errorText, const std::string& dateTime,
                                       const std::vector<std::string>& messageLines) {
  std::vector<std::string> lines{" ",
                                 "Quillomet vous informe !",
                                 "Une erreur est survenue lors de votre sauvegarde.",
                                 " ",
                                 "Erreur : " + errorText + ". ",
                                 "Date et heure : " + dateTime,
                                 " "};
  lines.insert(lines.end(), messageLines.begin(), messageLines.end());
  return lines;
}

std::string ComposeMail(const AlertMailFields& f, const std::vector<std::string>& bodyLines, const std::string& date) {
  std::string body;
  for (const std::string& line : bodyLines) {
    for (char c : line)
      if (c != '\r' && c != '\n') body += c;
    body += "\r\n";
  }
  const std::string encoded = Base64(body);
  std::string text = "Date: " + date + "\r\nFrom: " + HeaderValue(f.from) + "\r\nTo: " + HeaderValue(f.to) +
                     "\r\nSubject: " + HeaderValue(f.subject) +
                     "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n";
  for (std::size_t i = 0; i < encoded.size(); i += 76) text += encoded.substr(i, 76) + "\r\n";
  return text;
}

std::string MailDate(long long unixTime) {
  const std::time_t t = static_cast<std::time_t>(unixTime);
  std::tm tm{};
  localtime_r(&t, &tm);
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const long offset = tm.tm_gmtoff / 60;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return buffer;
}

}  // namespace core
