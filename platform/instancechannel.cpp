#include "platform/instancechannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The socket's address; false when the path does not fit.
bool AddressOf(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

bool PeerIsOurUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

int MillisecondsUntil(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// A connected non-blocking socket, or -1 once the retry time has passed.
int ConnectBefore(const sockaddr_un& addr, Clock::time_point retryEnd) {
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    const int err = errno;
    close(fd);
    // Missing or refused: the lock holder may be about to listen. A full backlog: it is slow.
    if (err != ENOENT && err != ECONNREFUSED && err != EAGAIN && err != EINTR) return -1;
    const int wait = std::min(MillisecondsUntil(retryEnd), 50);
    if (wait <= 0) return -1;
    poll(nullptr, 0, wait);
  }
}

}  // namespace

std::string InstanceSocketPath(const std::string& lockPath) {
  std::string stem = lockPath;
  constexpr std::string_view kLock = ".lock";
  if (stem.size() > kLock.size() && stem.compare(stem.size() - kLock.size(), kLock.size(), kLock) == 0)
    stem.resize(stem.size() - kLock.size());
  return stem + ".d/socket";
}

bool PrivateSocketFolder(const std::string& socketPath, bool make) {
  const std::string folder = FolderOf(socketPath);
  if (make && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
  if ((st.st_mode & 077) == 0) return true;
  return make && chmod(folder.c_str(), 0700) == 0;
}

RequestState JudgeRequest(std::string_view received) {
  if (received == kShowRequest) return RequestState::Show;
  if (received.size() < kShowRequest.size() && kShowRequest.substr(0, received.size()) == received)
    return RequestState::Incomplete;
  return RequestState::Bad;
}

AskResult AskToShow(const std::string& socketPath, std::chrono::milliseconds limit,
                    std::chrono::milliseconds retryLimit) {
  const auto end = Clock::now() + limit;
  sockaddr_un addr;
  if (!AddressOf(socketPath, addr)) return AskResult::NoAnswer;
  // The folder may not be made yet either; once there it must be private and ours.
  const int fd = ConnectBefore(addr, Clock::now() + std::min(limit, retryLimit));
  if (fd < 0) return AskResult::NoAnswer;
  const auto fail = [fd] {
    close(fd);
    return AskResult::NoAnswer;
  };
  if (!PrivateSocketFolder(socketPath, false) || !PeerIsOurUser(fd)) return fail();
  if (send(fd, kShowRequest.data(), kShowRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kShowRequest.size()))
    return fail();
  std::string answer;
  while (answer.size() < kShownAnswer.size()) {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, MillisecondsUntil(end));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return fail();
    char buf[8];
    const ssize_t n = recv(fd, buf, kShownAnswer.size() - answer.size(), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return fail();
    answer.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer == kShownAnswer ? AskResult::Shown : AskResult::NoAnswer;
}

InstanceChannel::~InstanceChannel() { Close(); }

bool InstanceChannel::Listen(const std::string& socketPath) {
  Close();
  sockaddr_un addr;
  if (!AddressOf(socketPath, addr) || !PrivateSocketFolder(socketPath, true)) return false;
  struct stat st {};
  if (lstat(socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode) || unlink(socketPath.c_str()) != 0) return false;
  } else if (errno != ENOENT) {
    return false;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return false;
  }
  if (chmod(socketPath.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
    close(fd);
    unlink(socketPath.c_str());
    return false;
  }
  fd_ = fd;
  path_ = socketPath;
  return true;
}

void InstanceChannel::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  unlink(path_.c_str());
}

int InstanceChannel::Accept() {
  if (fd_ < 0) return -1;
  for (;;) {
    const int peer = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) return -1;
    if (PeerIsOurUser(peer)) return peer;
    close(peer);
  }
}

InstancePeer::~InstancePeer() {
  if (fd_ >= 0) close(fd_);
}

RequestState InstancePeer::Read() {
  for (;;) {
    char buf[8];
    const size_t room = kShowRequest.size() + 1 - received_.size();
    const ssize_t n = recv(fd_, buf, std::min(room, sizeof buf), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return RequestState::Incomplete;
    if (n <= 0) return RequestState::Bad;
    received_.append(buf, static_cast<size_t>(n));
    const RequestState state = JudgeRequest(received_);
    if (state != RequestState::Incomplete) return state;
  }
}

void InstancePeer::Answer() {
  (void)!send(fd_, kShownAnswer.data(), kShownAnswer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace platform
