#include "platform/smtp.h"

#include <curl/curl.h>

#include <algorithm>
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
  CURL* curl = curl_easy_init();
  if (!curl) {
    result.error = "curl_easy_init";
    return result;
  }
  char error[CURL_ERROR_SIZE] = "";
  const std::string url = "smtp://" + r.host + ":" + std::to_string(r.port);
  const std::string from = Envelope(r.from);
  curl_slist* recipients = curl_slist_append(nullptr, Envelope(r.to).c_str());
  Upload upload{&r.message};

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, r.connectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, r.stallSeconds);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp");
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

  const CURLcode code = curl_easy_perform(curl);
  long response = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
  curl_off_t connected = 0;
  curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);

  if (code == CURLE_OK) {
    result.outcome = SmtpOutcome::Sent;
    return result;
  }
  result.error = *error ? error : curl_easy_strerror(code);
  // Nothing answered yet: no connection, or no usable greeting.
  const bool noGreeting = response == 0 && (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_GOT_NOTHING ||
                                            code == CURLE_RECV_ERROR || code == CURLE_OPERATION_TIMEDOUT);
  if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_CONNECT || connected == 0 || noGreeting)
    result.outcome = SmtpOutcome::NotConnected;
  else
    result.outcome = SmtpOutcome::Failed;
  return result;
}

}  // namespace platform
