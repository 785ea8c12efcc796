#include "platform/instancechannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>

#include "tests/support/asnobody.h"
#include "tests/support/testenv.h"

namespace {

using namespace std::chrono_literals;
using platform::AskResult;
using platform::AskToShow;
using platform::InstanceChannel;
using platform::InstancePeer;
using platform::RequestState;

std::string SocketIn(const std::string& folder) {
  return platform::InstanceSocketPath((testenv::testRoot() / folder / "Quillomet.lock").string());
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// A socket bound at path: listening (never accepting) or closed again (a stale socket).
int BindAt(const std::string& path, bool listening) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
  if (listening) {
    listen(fd, 4);
    return fd;
  }
  close(fd);
  return 0;
}

// Serves one peer the way the window does: waits for it, reads its request, answers a show.
RequestState ServeOne(InstanceChannel& channel) {
  pollfd p{channel.fd(), POLLIN, 0};
  if (poll(&p, 1, 30000) != 1) return RequestState::Incomplete;
  InstancePeer peer(channel.Accept());
  if (peer.fd() < 0) return RequestState::Incomplete;
  for (;;) {
    pollfd q{peer.fd(), POLLIN, 0};
    if (poll(&q, 1, 30000) != 1) return RequestState::Incomplete;
    const RequestState state = peer.Read();
    if (state == RequestState::Show) peer.Answer();
    if (state != RequestState::Incomplete) return state;
  }
}

TEST(InstanceChannel, SocketLivesInAPrivateFolderNamedAfterTheLock) {
  EXPECT_EQ(platform::InstanceSocketPath("/run/user/1000/Quillomet.lock"), "/run/user/1000/Quillomet.d/socket");
  EXPECT_EQ(platform::InstanceSocketPath("/tmp/Quillomet-1000.lock"), "/tmp/Quillomet-1000.d/socket");
}

TEST(InstanceChannel, OnlyTheOneRequestIsKnown) {
  const struct {
    std::string_view received;
    RequestState state;
  } cases[] = {
      {"", RequestState::Incomplete},       {"sh", RequestState::Incomplete}, {"show", RequestState::Incomplete},
      {"show\n", RequestState::Show},       {"show\n\n", RequestState::Bad},  {"Show\n", RequestState::Bad},
      {"show\r\n", RequestState::Bad},      {"quit\n", RequestState::Bad},    {std::string_view("sh\0w\n", 5), RequestState::Bad},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::JudgeRequest(c.received), c.state) << c.received;
}

TEST(InstanceChannel, ALaterStartIsAnsweredOnceTheWindowIsShown) {
  const std::string path = SocketIn("runtime");
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(path));
  EXPECT_EQ(ModeOf(path) & 0777, 0600u);
  EXPECT_EQ(ModeOf(path.substr(0, path.rfind('/'))) & 0777, 0700u);
  auto asked = std::async(std::launch::async, [&] { return AskToShow(path, 30s); });
  EXPECT_EQ(ServeOne(channel), RequestState::Show);
  EXPECT_EQ(asked.get(), AskResult::Shown);
  channel.Close();
  EXPECT_EQ(ModeOf(path), 0u) << "the socket goes with the channel";
}

TEST(InstanceChannel, AStaleSocketIsReplacedButNothingElseIsRemoved) {
  const std::string path = SocketIn("runtime");
  ASSERT_TRUE(platform::PrivateSocketFolder(path, true));
  ASSERT_EQ(BindAt(path, false), 0);
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(path));
  auto asked = std::async(std::launch::async, [&] { return AskToShow(path, 30s); });
  EXPECT_EQ(ServeOne(channel), RequestState::Show);
  EXPECT_EQ(asked.get(), AskResult::Shown);
  channel.Close();

  testenv::writeFile(path, "kept");
  EXPECT_FALSE(channel.Listen(path));
  EXPECT_EQ(testenv::readFile(path), "kept");
}

TEST(InstanceChannel, AFolderOfOthersIsNeverUsed) {
  const std::string path = SocketIn("runtime");
  const std::string folder = path.substr(0, path.rfind('/'));
  // A link in place of the folder is not followed.
  const auto elsewhere = testenv::makeDir("elsewhere");
  ASSERT_EQ(symlink(elsewhere.c_str(), folder.c_str()), 0);
  InstanceChannel channel;
  EXPECT_FALSE(channel.Listen(path));
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

// A later start that gets no answer says so instead of ending as if the window were shown.
TEST(InstanceChannel, NoAnswerIsNeverTakenForShown) {
  const std::string path = SocketIn("runtime");
  const std::string folder = path.substr(0, path.rfind('/'));

  // No socket at all (an instance that never listened).
  EXPECT_EQ(AskToShow(path, 2s, 100ms), AskResult::NoAnswer);

  // A socket its instance no longer serves.
  ASSERT_TRUE(platform::PrivateSocketFolder(path, true));
  ASSERT_EQ(BindAt(path, false), 0);
  EXPECT_EQ(AskToShow(path, 2s, 100ms), AskResult::NoAnswer);
  unlink(path.c_str());

  // A hung instance: the kernel takes the connection, nobody answers.
  const int hung = BindAt(path, true);
  ASSERT_GE(hung, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(AskToShow(path, 300ms, 100ms), AskResult::NoAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  {
    pollfd p{hung, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30000), 1);
    close(accept(hung, nullptr, nullptr));  // the connection it gave up
  }

  // A peer that answers something else, or hangs up.
  for (std::string_view reply : {std::string_view("no\n"), std::string_view("")}) {
    auto asked = std::async(std::launch::async, [&] { return AskToShow(path, 30s); });
    pollfd p{hung, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30000), 1);
    const int peer = accept(hung, nullptr, nullptr);
    if (!reply.empty()) (void)!send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
    close(peer);
    EXPECT_EQ(asked.get(), AskResult::NoAnswer) << reply;
  }

  // A folder that others may enter is not trusted.
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  {
    auto asked = std::async(std::launch::async, [&] { return AskToShow(path, 30s); });
    pollfd p{hung, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30000), 1);
    const int peer = accept(hung, nullptr, nullptr);
    (void)!send(peer, "ok\n", 3, MSG_NOSIGNAL);
    EXPECT_EQ(asked.get(), AskResult::NoAnswer);
    close(peer);
  }
  close(hung);
}

// What a peer sends is read in small bounded steps, and only the request as it stands counts.
TEST(InstanceChannel, PeersSendingAnythingElseAreDropped) {
  const std::string path = SocketIn("runtime");
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(path));
  const struct {
    std::string sent;
    bool hangUp;
    RequestState state;
  } cases[] = {
      {"show\n", false, RequestState::Show},
      {"sho", true, RequestState::Bad},
      {"", true, RequestState::Bad},
      {"show\nshow\n", false, RequestState::Bad},
      {"quit\n", false, RequestState::Bad},
      {std::string(1 << 20, 's'), true, RequestState::Bad},
  };
  for (const auto& c : cases) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // A big send fills the socket buffer: it runs beside the server, which stops reading early.
    auto sending = std::async(std::launch::async, [&] {
      (void)!send(client, c.sent.data(), c.sent.size(), MSG_NOSIGNAL);
      if (c.hangUp) shutdown(client, SHUT_WR);
    });
    EXPECT_EQ(ServeOne(channel), c.state) << c.sent.substr(0, 12);
    sending.get();
    char answer[4] = {};
    const ssize_t n = recv(client, answer, sizeof answer, MSG_DONTWAIT);
    if (c.state == RequestState::Show) {
      EXPECT_EQ(std::string(answer, n > 0 ? n : 0), "ok\n");
    } else {
      EXPECT_LE(n, 0) << "no answer to a bad request";
    }
    close(client);
  }
}

// Even where another user can reach the socket, the instance drops what that user sends.
TEST(InstanceChannel, PeersOfAnotherUserAreDropped) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as nobody";
  const std::string path = SocketIn("runtime");
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(path));
  const std::string folder = path.substr(0, path.rfind('/'));
  for (const std::string& f : {(testenv::testRoot() / "runtime").string(), folder}) chmod(f.c_str(), 0711);
  chmod(path.c_str(), 0666);
  auto stranger = std::async(std::launch::async, [&] {
    return testenv::RunAsNobody([&] {
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 2;
      (void)!send(fd, "show\n", 5, MSG_NOSIGNAL);
      pollfd p{fd, POLLIN, 0};
      char c;
      if (poll(&p, 1, 30000) != 1) return 3;
      return recv(fd, &c, 1, 0) > 0 ? 1 : 0;  // hung up on, never answered
    });
  });
  pollfd p{channel.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 30000), 1);
  EXPECT_EQ(channel.Accept(), -1);
  const int status = stranger.get();
  if (status == testenv::kCannotBecomeNobody) GTEST_SKIP() << "cannot become nobody here";
  EXPECT_EQ(status, 0);
}

}  // namespace
