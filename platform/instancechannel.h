#pragma once
// How a later start reaches the running instance: a Unix socket in a private folder beside the
// instance lock. The later start sends the one request known, "show\n", and waits for "ok\n",
// which the instance sends once its window is shown.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// "<lock path without .lock>.d/socket".
std::string InstanceSocketPath(const std::string& lockPath);

// Whether the socket's folder is a real folder of our own user that nobody else can enter;
// with make, it is made (mode 0700) when missing and narrowed to 0700 when it is ours.
bool PrivateSocketFolder(const std::string& socketPath, bool make);

enum class RequestState {
  Incomplete,  // a beginning of the request: more may come
  Show,        // the whole request
  Bad,         // anything else: the peer is dropped
};
inline constexpr std::string_view kShowRequest = "show\n";
inline constexpr std::string_view kShownAnswer = "ok\n";
RequestState JudgeRequest(std::string_view received);

enum class AskResult {
  Shown,     // the instance answered that its window is shown
  NoAnswer,  // no socket, refused, a stranger, or no answer in time
};
// Asks the instance behind the socket to show its window, waiting up to limit for the answer.
// A socket that is not there yet (an instance that has just taken the lock) is tried again for
// up to retryLimit within limit.
AskResult AskToShow(const std::string& socketPath, std::chrono::milliseconds limit,
                    std::chrono::milliseconds retryLimit = std::chrono::seconds(2));

// The listening side, held by the holder of the instance lock.
class InstanceChannel {
 public:
  InstanceChannel() = default;
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;
  ~InstanceChannel();

  // Only while holding the lock: a socket left at the path by an instance that died is stale
  // and replaced; anything else there is left alone and the channel stays closed.
  bool Listen(const std::string& socketPath);
  void Close();
  int fd() const { return fd_; }
  // A waiting peer of our own user as a non-blocking descriptor the caller owns, or -1 (none
  // waiting, or a peer of another user, which is dropped).
  int Accept();

 private:
  int fd_ = -1;
  std::string path_;
};

// One accepted peer: reads its request, bounded, and answers it.
class InstancePeer {
 public:
  explicit InstancePeer(int fd) : fd_(fd) {}
  InstancePeer(const InstancePeer&) = delete;
  InstancePeer& operator=(const InstancePeer&) = delete;
  ~InstancePeer();
  int fd() const { return fd_; }
  // Reads what has arrived, never more than the request's length plus one byte. A peer that
  // closes before the whole request, or sends anything else, is Bad.
  RequestState Read();
  // Tells the peer its window is shown.
  void Answer();

 private:
  int fd_;
  std::string received_;
};

}  // namespace platform
