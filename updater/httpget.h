#pragma once
// A blocking HTTP GET that keeps the window alive: libcurl's multi interface, polled in short
// steps with the caller's pump between them. No redirects; a stalled transfer times out.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace updater {

struct HttpResult {
  bool Ok = false;
  // A failure of the client's own kind (connection, protocol, HTTP status, redirect, cut transfer);
  // false for others (a sink that cannot write, an abort by the caller).
  bool ClientError = false;
  std::string Message;  // French text of the failure
  long Status = 0;      // HTTP status of the answer, 0 when none came
  bool TooLarge = false;  // the body (or the length announced for it) went past the limit
  bool TooSlow = false;   // the whole transfer took longer than its length allows
};

struct HttpProgress {
  std::function<void(int64_t expected)> WorkBegin;  // expected size, 0 when the server gave none
  std::function<void(int64_t done)> Work;
  std::function<void()> WorkEnd;
};

class HttpGet {
 public:
  // Gets called between polls (about every 30 ms); returning false aborts the transfer.
  std::function<bool()> Pump;
  HttpProgress Progress;
  std::string UserAgent = "Mozilla/3.0 (compatible; Quillomet Update)";
  std::chrono::seconds ConnectTimeout{15};
  // Below one byte a second for this long ends the transfer.
  std::chrono::seconds LowSpeedTime{30};
  // The whole transfer may take MinimumTime plus its length at MinimumRate (bytes a second): the
  // length announced, else the bytes come so far. A slower one ends.
  std::chrono::milliseconds MinimumTime{std::chrono::minutes(2)};
  int64_t MinimumRate = 8 << 10;

  // The body goes to sink piece by piece; a sink that returns false fails the transfer. A body
  // longer than maxBytes (or announced so) fails it too; a negative maxBytes sets no limit.
  HttpResult Get(const std::string& url, const std::function<bool(const char*, size_t)>& sink,
                 int64_t maxBytes = -1);
  HttpResult GetToString(const std::string& url, std::string& body, size_t maxBytes = 1 << 20);
  // The body goes to the open descriptor fd.
  HttpResult GetToFd(const std::string& url, int fd, int64_t maxBytes = -1);
};

}  // namespace updater
