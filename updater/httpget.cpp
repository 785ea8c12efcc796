#include "updater/httpget.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/errortext.h"

namespace updater {

namespace {

struct Transfer {
  const std::function<bool(const char*, size_t)>* Sink;
  const HttpProgress* Progress;
  int64_t MaxBytes = -1;
  int64_t Announced = 0;  // length the server gave, 0 when none
  bool Begun = false;
  bool TooLarge = false;
  bool SinkFailed = false;
  int SinkErrno = 0;
  int64_t Done = 0;
  CURL* Easy = nullptr;
};

void BeginOnce(Transfer& t) {
  if (t.Begun) return;
  t.Begun = true;
  curl_off_t length = -1;
  curl_easy_getinfo(t.Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  t.Announced = length > 0 ? int64_t(length) : 0;
  if (t.Progress->WorkBegin) t.Progress->WorkBegin(t.Announced);
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  BeginOnce(t);
  curl_off_t announced = -1;
  curl_easy_getinfo(t.Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  if (t.MaxBytes >= 0 && (announced > t.MaxBytes || t.Done + int64_t(n) > t.MaxBytes)) {
    t.TooLarge = true;
    return 0;
  }
  if (!(*t.Sink)(data, n)) {
    t.SinkFailed = true;
    t.SinkErrno = errno;
    return 0;  // curl ends the transfer with a write error
  }
  t.Done += int64_t(n);
  if (t.Progress->Work) t.Progress->Work(t.Done);
  return n;
}

std::string StatusMessage(long status) {
  return "HTTP/1.1 " + std::to_string(status) + " : le serveur a refusé la demande";
}

// Why a transfer failed, in French; the client's own text only for the rare cases.
std::string FailureMessage(CURLcode code, const char* detail) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "le nom du serveur est inconnu (pas de connexion à internet\u00a0?)";
    case CURLE_COULDNT_CONNECT:
      return "la connexion au serveur a été refusée ou est impossible";
    case CURLE_OPERATION_TIMEDOUT:
      return "le serveur ne répond plus";
    case CURLE_PARTIAL_FILE:
      return "le transfert a été coupé avant la fin";
    case CURLE_GOT_NOTHING:
      return "le serveur a fermé la connexion sans répondre";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return "la connexion au serveur a été coupée";
    case CURLE_WEIRD_SERVER_REPLY:
      return "la réponse du serveur est illisible";
    default:
      return std::string("erreur du réseau (") + (detail[0] ? detail : curl_easy_strerror(code)) + ")";
  }
}

// Time for bytes at rate bytes a second, without overflow.
std::chrono::milliseconds TimeFor(int64_t bytes, int64_t rate) {
  const int64_t seconds = std::min<int64_t>(bytes / rate, int64_t(1) << 40);
  return std::chrono::milliseconds(seconds * 1000 + (bytes % rate) * 1000 / rate);
}

// Whole seconds, rounded up, for a message.
std::string Seconds(std::chrono::milliseconds ms) { return std::to_string((ms.count() + 999) / 1000) + " s"; }

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

HttpResult HttpGet::Get(const std::string& url, const std::function<bool(const char*, size_t)>& sink,
                        int64_t maxBytes) {
  InitOnce();
  HttpResult result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
  std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(), curl_multi_cleanup);
  if (!easy || !multi) {
    result.Message = "le client HTTP n'a pas pu démarrer";
    return result;
  }
  Transfer t{&sink, &Progress};
  t.Easy = easy.get();
  t.MaxBytes = maxBytes;
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy.get(), CURLOPT_USERAGENT, UserAgent.c_str());
  struct curl_slist* headers = curl_slist_append(nullptr, "Accept: text/html, */*");
  curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT, long(ConnectTimeout.count()));
  curl_easy_setopt(easy.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_LOW_SPEED_TIME, long(LowSpeedTime.count()));
  curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &t);
  // A length announced beyond the limit ends the transfer before its body.
  if (maxBytes >= 0) curl_easy_setopt(easy.get(), CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
  curl_multi_add_handle(multi.get(), easy.get());

  bool aborted = false, tooSlow = false;
  const auto start = std::chrono::steady_clock::now();
  const int64_t rate = std::max<int64_t>(MinimumRate, 1);
  std::chrono::milliseconds allowed{0};
  int running = 1;
  CURLcode code = CURLE_OK;
  bool finished = false;
  while (!finished) {
    CURLMcode mc = curl_multi_perform(multi.get(), &running);
    if (mc == CURLM_OK) {
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE) {
          code = msg->data.result;
          finished = true;
        }
      }
    } else {
      code = CURLE_FAILED_INIT;
      finished = true;
    }
    if (finished) break;
    allowed = MinimumTime + TimeFor(t.Announced > 0 ? t.Announced : t.Done, rate);
    if (std::chrono::steady_clock::now() - start > allowed) {
      tooSlow = true;
      break;
    }
    if (Pump && !Pump()) {
      aborted = true;
      break;
    }
    curl_multi_poll(multi.get(), nullptr, 0, 30, nullptr);
  }
  curl_multi_remove_handle(multi.get(), easy.get());
  curl_slist_free_all(headers);

  long status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  result.Status = status;
  if (aborted) {
    result.Message = "téléchargement interrompu";
  } else if (tooSlow) {
    result.ClientError = true;
    result.TooSlow = true;
    result.Message = "la connexion est trop lente : le transfert n'était pas fini après " + Seconds(allowed) +
                     " (moins de " + (rate >= 1024 ? std::to_string(rate >> 10) + " Ko" : std::to_string(rate) + " octets") +
                     " par seconde)";
  } else if (t.TooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    result.TooLarge = true;
    result.Message = "réponse trop longue";
  } else if (t.SinkFailed) {
    result.Message = std::string("écriture impossible : ") + platform::SystemErrorText(t.SinkErrno ? t.SinkErrno : EIO);
  } else if (code != CURLE_OK) {
    result.ClientError = true;
    result.Message = FailureMessage(code, error);
  } else if (status < 200 || status >= 300) {
    // Redirects are not followed: they fail like any other status that is not a success.
    result.ClientError = true;
    result.Message = StatusMessage(status);
  } else {
    BeginOnce(t);
    result.Ok = true;
  }
  if (t.Begun && Progress.WorkEnd) Progress.WorkEnd();
  return result;
}

HttpResult HttpGet::GetToString(const std::string& url, std::string& body, size_t maxBytes) {
  body.clear();
  return Get(
      url,
      [&](const char* p, size_t n) {
        body.append(p, n);
        return true;
      },
      int64_t(maxBytes));
}

HttpResult HttpGet::GetToFd(const std::string& url, int fd, int64_t maxBytes) {
  return Get(url, [fd](const char* p, size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = EIO;
        return false;
      }
      p += w;
      n -= size_t(w);
    }
    return true;
  }, maxBytes);
}

}  // namespace updater
