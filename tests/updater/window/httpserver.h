#pragma once
// A small HTTP server on loopback for the updater's tests: each path gets a canned answer,
// which can also stall or hang up before the end of its body.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testhttp {

struct Reply {
  int Status = 200;
  std::string Body;
  std::string ExtraHeaders;    // whole lines, each ending in "\r\n"
  long DeclaredLength = -1;    // Content-Length sent; -1: the body's size
  long CutAfter = -1;          // hang up after this many body bytes; -1: send all
  bool Endless = false;        // no length announced, the body never ends
  std::chrono::milliseconds StallBeforeBody{0};
  std::chrono::milliseconds ByteEvery{0};  // when set, the body goes one byte at a time, this apart


  Reply() = default;
  Reply(int status, std::string body, std::string extraHeaders = {})
      : Status(status), Body(std::move(body)), ExtraHeaders(std::move(extraHeaders)) {}
  // The whole length announced, the connection closed after `sent` bytes.
  static Reply Cut(std::string body, long sent) {
    Reply r(200, std::move(body));
    r.CutAfter = sent;
    return r;
  }
  static Reply Unending() {
    Reply r;
    r.Endless = true;
    return r;
  }
  // The length of body announced, one byte of it sent every `every`.
  static Reply Trickle(std::string body, std::chrono::milliseconds every) {
    Reply r(200, std::move(body));
    r.ByteEvery = every;
    return r;
  }
  static Reply Stalled(std::string body, std::chrono::milliseconds stall) {
    Reply r(200, std::move(body));
    r.StallBeforeBody = stall;
    return r;
  }
};

class Server {
 public:
  Server();
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // "http://127.0.0.1:PORT"
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  void Set(const std::string& path, Reply reply);
  // Paths asked for, in order.
  std::vector<std::string> Requests();

 private:
  void Loop();
  void Serve(int fd);

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace testhttp
