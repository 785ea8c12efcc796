#include "updater/httpget.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "tests/updater/window/httpserver.h"

using namespace updater;

TEST(HttpGet, BodyAndProgressOfASuccessfulGet) {
  testhttp::Server server;
  const std::string body(300000, 'z');
  server.Set("/f", {200, body});
  HttpGet http;
  int64_t expected = -1, last = 0;
  int pumps = 0, ends = 0;
  http.Progress.WorkBegin = [&](int64_t n) { expected = n; };
  http.Progress.Work = [&](int64_t n) { last = n; };
  http.Progress.WorkEnd = [&] { ++ends; };
  http.Pump = [&] { return ++pumps > 0; };
  std::string got;
  const HttpResult r = http.GetToString(server.Base() + "/f", got);
  ASSERT_TRUE(r.Ok) << r.Message;
  EXPECT_EQ(got, body);
  EXPECT_EQ(expected, 300000);
  EXPECT_EQ(last, 300000);
  EXPECT_EQ(ends, 1);
}

TEST(HttpGet, FailuresOfTheClientsKind) {
  testhttp::Server server;
  server.Set("/moved", {301, "", "Location: /ok\r\n"});
  server.Set("/ok", {200, "ok"});
  server.Set("/cut", testhttp::Reply::Cut(std::string(5000, 'c'), 1000));
  server.Set("/stalled", testhttp::Reply::Stalled("late", std::chrono::seconds(60)));
  struct Case {
    std::string url;
    const char* message;
  } cases[] = {
      {server.Base() + "/moved", "HTTP/1.1 301"},
      {server.Base() + "/absent", "HTTP/1.1 404"},
      {server.Base() + "/cut", "le transfert a été coupé avant la fin"},
      {server.Base() + "/stalled", "le serveur ne répond plus"},
      {"http://127.0.0.1:1/", "la connexion au serveur a été refusée ou est impossible"},
  };
  for (const auto& c : cases) {
    HttpGet http;
    http.LowSpeedTime = std::chrono::seconds(1);
    std::string got;
    const HttpResult r = http.GetToString(c.url, got);
    EXPECT_FALSE(r.Ok) << c.url;
    EXPECT_TRUE(r.ClientError) << c.url;
    EXPECT_FALSE(r.Message.empty()) << c.url;
    EXPECT_EQ(r.Message.rfind(c.message, 0), 0u) << c.url << ": " << r.Message;
  }
  for (const auto& path : server.Requests()) EXPECT_NE(path, "/ok") << "redirect followed";
}

TEST(HttpGet, ABodyPastTheLimitFails) {
  testhttp::Server server;
  server.Set("/big", {200, std::string(5000, 'b')});
  HttpGet http;
  std::string got;
  const HttpResult r = http.GetToString(server.Base() + "/big", got, 1000);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Message, "réponse trop longue");
  EXPECT_LE(got.size(), 1000u);
}

TEST(HttpGet, AFullDiskIsNoClientError) {
  testhttp::Server server;
  server.Set("/f", {200, std::string(100000, 'f')});
  const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  HttpGet http;
  const HttpResult r = http.GetToFd(server.Base() + "/f", fd);
  close(fd);
  EXPECT_FALSE(r.Ok);
  EXPECT_FALSE(r.ClientError);
  EXPECT_EQ(r.Message, "écriture impossible : Plus d'espace disponible sur le périphérique");
}

// A server that keeps sending, too slowly for the length it announced, is given up on after
// the time that length allows; one that keeps to the rate is not.
TEST(HttpGet, ATransferSlowerThanItsLengthAllowsEnds) {
  using namespace std::chrono;
  testhttp::Server server;
  // 20 bytes a second, well above the low-speed rule, for 1 Mo.
  server.Set("/lent", testhttp::Reply::Trickle(std::string(1 << 20, 'l'), milliseconds(50)));
  server.Set("/vite", {200, std::string(1 << 20, 'v')});
  HttpGet http;
  http.MinimumTime = seconds(1);
  http.MinimumRate = 1 << 20;
  int pumps = 0;
  http.Pump = [&] { return ++pumps > 0; };
  std::string got;
  const auto start = steady_clock::now();
  const HttpResult slow = http.GetToString(server.Base() + "/lent", got);
  EXPECT_LT(steady_clock::now() - start, seconds(30));
  EXPECT_FALSE(slow.Ok);
  EXPECT_TRUE(slow.ClientError);
  EXPECT_TRUE(slow.TooSlow);
  EXPECT_EQ(slow.Message, "la connexion est trop lente : le transfert n'était pas fini après 2 s (moins de 1024 Ko par seconde)");
  EXPECT_GT(pumps, 0) << "the window was not served meanwhile";

  got.clear();
  const HttpResult fast = http.GetToString(server.Base() + "/vite", got);
  EXPECT_TRUE(fast.Ok) << fast.Message;
  EXPECT_EQ(got.size(), size_t(1) << 20);
}
