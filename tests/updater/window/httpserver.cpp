#include "tests/updater/window/httpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testhttp {

namespace {

bool SendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace

Server::Server() {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_, 16) != 0)
    throw std::runtime_error("test HTTP server: no socket");
  socklen_t len = sizeof addr;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Loop(); });
}

Server::~Server() {
  stop_ = true;
  thread_.join();
  ::close(listen_);
}

void Server::Set(const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

std::vector<std::string> Server::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void Server::Loop() {
  // Bounded: the server lives as long as its test.
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Serve(fd);
    ::close(fd);
  }
}

void Server::Serve(int fd) {
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    request.append(buf, size_t(n));
  }
  const auto sp1 = request.find(' ');
  const auto sp2 = request.find(' ', sp1 + 1);
  const std::string path = request.substr(sp1 + 1, sp2 - sp1 - 1);
  Reply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(path);
    auto it = replies_.find(path);
    if (it != replies_.end()) reply = it->second;
    else reply = Reply{404, "not found"};
  }
  const long length = reply.DeclaredLength >= 0 ? reply.DeclaredLength : long(reply.Body.size());
  const std::string head = "HTTP/1.1 " + std::to_string(reply.Status) + " X\r\n" +
                           (reply.Endless ? "" : "Content-Length: " + std::to_string(length) + "\r\n") +
                           "Connection: close\r\n" + reply.ExtraHeaders + "\r\n";
  SendAll(fd, head.data(), head.size());
  if (reply.Endless) {
    // Until the client hangs up.
    const std::string chunk(65536, 'z');
    while (!stop_ && SendAll(fd, chunk.data(), chunk.size())) {
    }
    return;
  }
  // The stall ends early when the client hangs up.
  const auto until = std::chrono::steady_clock::now() + reply.StallBeforeBody;
  while (!stop_ && std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) > 0 && ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) <= 0) return;
  }
  const size_t n = reply.CutAfter >= 0 ? std::min(size_t(reply.CutAfter), reply.Body.size()) : reply.Body.size();
  if (reply.ByteEvery.count() > 0) {
    // Until the client hangs up, which ends the wait between two bytes too.
    for (size_t i = 0; i < n && !stop_; ++i) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, int(reply.ByteEvery.count())) > 0 && ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) <= 0) return;
      if (!SendAll(fd, reply.Body.data() + i, 1)) return;
    }
    return;
  }
  SendAll(fd, reply.Body.data(), n);
}

}  // namespace testhttp
