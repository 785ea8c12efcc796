#include "platform/smtp.h"

#include <curl/curl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

struct Upload {
  const std::string* text;
  std::size_t offset = 0;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* data) {
  auto* up = static_cast<Upload*>(data);
  const std::size_t n = std::min(size * count, up->text->size() - up->offset);
  std::memcpy(buffer, up->text->data() + up->offset, n);
  up->offset += n;
  return n;
}

// The address between angle brackets, as the envelope wants it.
std::string Envelope(const std::string& address) {
  const auto open = address.find('<'), close = address.rfind('>');
  if (open != std::string::npos && close != std::string::npos && close > open)
    return address.substr(open, close - open + 1);
  return "<" + address + ">";
}

// Whether the server's EHLO answer offered STARTTLS, read from the lines it sent.
int Watch(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  auto* offered = static_cast<bool*>(user);
  std::string line(data, size);
  for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (line.size() >= 12 && line.compare(0, 3, "250") == 0 && (line[3] == '-' || line[3] == ' ') &&
      line.compare(4, 8, "STARTTLS") == 0)
    *offered = true;
  return 0;
}

// A TCP connection to the server within the time-out, tried address after address (the
// name lookup comes before it); -1 when none answers in time.
int ConnectWithin(const std::string& host, int port, long timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int fd = -1;
  for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      int error = errno;
      if (error == EINPROGRESS) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLOUT, 0};
        socklen_t len = sizeof error;
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1 ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
          error = ETIMEDOUT;
      }
      if (error != 0) {
        ::close(fd);
        fd = -1;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  ::freeaddrinfo(found);
  return fd;
}

// Hands curl the connection made above.
struct Connected {
  int fd = -1;
  bool taken = false;
};

curl_socket_t OpenConnected(void* data, curlsocktype, curl_sockaddr*) {
  auto* c = static_cast<Connected*>(data);
  if (c->taken) return CURL_SOCKET_BAD;
  c->taken = true;
  return c->fd;
}

int AlreadyConnected(void*, curl_socket_t, curlsocktype) { return CURL_SOCKOPT_ALREADY_CONNECTED; }

// Why the exchange failed, in French, with the server's answer code when it gave one. The
// client's detail names the refused step ("MAIL failed: 550", "RCPT failed: 550", ...).
std::string FailureText(CURLcode code, long response, const std::string& detail) {
  const std::string answer = response > 0 ? " (réponse " + std::to_string(response) + ")" : "";
  const auto step = [&](const char* prefix) { return detail.rfind(prefix, 0) == 0; };
  switch (code) {
    case CURLE_LOGIN_DENIED:
      if (step("No known authentication")) return "le serveur de messagerie ne propose pas l'authentification LOGIN";
      return "l'identifiant ou le mot de passe a été refusé par le serveur de messagerie" + answer;
    case CURLE_SEND_ERROR:
      if (step("MAIL")) return "l'adresse de l'expéditeur a été refusée par le serveur de messagerie" + answer;
      if (step("RCPT")) return "l'adresse du destinataire a été refusée par le serveur de messagerie" + answer;
      if (step("DATA")) return "le serveur de messagerie a refusé le message" + answer;
      if (response >= 400) return "le serveur de messagerie a refusé l'envoi" + answer;
      return "la connexion au serveur de messagerie a été coupée";
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return "la connexion au serveur de messagerie a été coupée";
    case CURLE_WEIRD_SERVER_REPLY:
      // The answer to the end of the message comes without a detail.
      if (response >= 400) return "le serveur de messagerie a refusé le message" + answer;
      return "la réponse du serveur de messagerie est illisible" + answer;
    case CURLE_REMOTE_ACCESS_DENIED:
      return "le serveur de messagerie a refusé la connexion" + answer;
    case CURLE_USE_SSL_FAILED:
      return "le serveur de messagerie a refusé la connexion chiffrée (STARTTLS)" + answer;
    case CURLE_PEER_FAILED_VERIFICATION:
      return "le certificat du serveur de messagerie n'a pas pu être vérifié";
    case CURLE_SSL_CONNECT_ERROR:
      return "la connexion chiffrée (TLS) avec le serveur de messagerie a échoué";
    case CURLE_SSL_CACERT_BADFILE:
      return "le fichier des certificats de confiance est illisible";
    case CURLE_OPERATION_TIMEDOUT:
      return "le serveur de messagerie ne répond plus";
    case CURLE_OUT_OF_MEMORY:
      return "mémoire insuffisante";
    default:
      return "erreur de messagerie (" + (detail.empty() ? std::string(curl_easy_strerror(code)) : detail) + ")";
  }
}

struct Attempt {
  CURLcode code = CURLE_OK;
  long response = 0;
  bool starttlsOffered = false;
  bool connected = false;
  std::string error;
};

Attempt Perform(const SmtpRequest& r, curl_usessl level) {
  Attempt a;
  Connected socket{ConnectWithin(r.host, r.port, r.connectTimeoutMs)};
  if (socket.fd < 0) {
    a.code = CURLE_COULDNT_CONNECT;
    a.error = "Pas de connexion au serveur de messagerie " + r.host;
    return a;
  }
  a.connected = true;
  CURL* curl = curl_easy_init();
  if (!curl) {
    ::close(socket.fd);
    a.code = CURLE_FAILED_INIT;
    a.error = "mémoire insuffisante pour la messagerie";
    return a;
  }
  char error[CURL_ERROR_SIZE] = "";
  const std::string host = r.host.find(':') != std::string::npos ? "[" + r.host + "]" : r.host;
  const std::string url = (r.implicitTls ? "smtps://" : "smtp://") + host + ":" + std::to_string(r.port);
  const std::string from = Envelope(r.from);
  curl_slist* recipients = curl_slist_append(nullptr, Envelope(r.to).c_str());
  Upload upload{&r.message};

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");  // the connection is ours, straight to the server
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenConnected);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &socket);
  curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, AlreadyConnected);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, r.totalTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, r.totalTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, r.stallSeconds);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(level));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!r.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, r.caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, Watch);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &a.starttlsOffered);
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  if (!r.login.empty() && !r.password.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, r.login.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, r.password.c_str());
    curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
  }
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(r.message.size()));

  a.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.response);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);
  if (!socket.taken) ::close(socket.fd);
  if (a.code != CURLE_OK) a.error = FailureText(a.code, a.response, error);
  return a;
}

}  // namespace

SmtpResult SendMail(const SmtpRequest& r) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  SmtpResult result;
  for (const std::string* field : {&r.host, &r.from, &r.to, &r.login, &r.password}) {
    if (field->find_first_of("\r\n") != std::string::npos) {
      result.error = "Caractère de fin de ligne dans un réglage de messagerie";
      return result;
    }
  }
  // TLS is required first; only a server that answered without offering STARTTLS gets the
  // mail in clear, on a second connection.
  Attempt a = Perform(r, CURLUSESSL_ALL);
  result.tls = true;
  if (!r.implicitTls && !a.starttlsOffered && a.response > 0 &&
      (a.code == CURLE_USE_SSL_FAILED || a.code == CURLE_REMOTE_ACCESS_DENIED)) {
    a = Perform(r, CURLUSESSL_NONE);
    result.tls = false;
  }
  if (a.code == CURLE_OK) {
    result.outcome = SmtpOutcome::Sent;
    return result;
  }
  result.tls = false;
  result.error = a.error;
  // Nothing answered yet: no connection, or no usable greeting.
  const bool noGreeting = a.response == 0 && (a.code == CURLE_WEIRD_SERVER_REPLY || a.code == CURLE_GOT_NOTHING ||
                                              a.code == CURLE_RECV_ERROR || a.code == CURLE_OPERATION_TIMEDOUT);
  if (!a.connected || noGreeting)
    result.outcome = SmtpOutcome::NotConnected;
  else
    result.outcome = SmtpOutcome::Failed;
  return result;
}

}  // namespace platform
