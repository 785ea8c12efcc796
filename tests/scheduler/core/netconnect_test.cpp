#include "scheduler/core/netconnect.h"

#include <gtest/gtest.h>

#include <set>

namespace core {
namespace {

using Strings = std::vector<std::string>;

TEST(SharesOfComputer, SharesOfThatComputerOnceEach) {
  const Strings paths{"//PC/Docs/a", "/home/u", "//pc/docs", "//pc2/x", "//pc/Photos/2024", "//pc", "", "//Pc/photos/b"};
  EXPECT_EQ(SharesOfComputer("pc", paths), (Strings{"Docs", "Photos"}));
  EXPECT_EQ(SharesOfComputer("PC2", paths), Strings{"x"});
  EXPECT_TRUE(SharesOfComputer("nas", paths).empty());
  EXPECT_EQ(NetworkShare("//pc/share/dir"), "share");
  EXPECT_EQ(NetworkShare("//pc"), "");
  EXPECT_EQ(NetworkShare("/pc/share"), "");
  EXPECT_TRUE(SameNetworkName("Server", "SERVER"));
  EXPECT_FALSE(SameNetworkName("server", "server2"));
}

// A computer with a set of shares: which login it takes, which shares are mounted already,
// which ones a mount fails for.
struct FakeShares : ShareAccess {
  std::string password = "pw";
  std::set<std::string> mounted, broken;
  Strings calls;
  bool Authenticate(const std::string& c, const std::string& l, const std::string& p) override {
    calls.push_back("auth " + c + " " + l);
    return p == password;
  }
  bool Usable(const std::string&, const std::string& s) override { return mounted.count(s) > 0; }
  void Mount(const std::string& c, const std::string& s, const std::string&, const std::string&) override {
    calls.push_back("mount " + c + "/" + s);
    if (!broken.count(s)) mounted.insert(s);
  }
};

TEST(ConnectComputer, LoginFirstThenTheSharesNotMountedYet) {
  struct {
    const char* name;
    std::string password;
    std::set<std::string> mounted, broken;
    Strings shares;
    bool connected;
    Strings calls;
  } cases[] = {
      {"no share needed", "pw", {}, {}, {}, true, {"auth pc bob"}},
      {"mounts what is missing", "pw", {"a"}, {}, {"a", "b"}, true, {"auth pc bob", "mount pc/b"}},
      {"wrong password mounts nothing", "bad", {}, {}, {"a"}, false, {"auth pc bob"}},
      {"a failed mount answers no", "pw", {}, {"b"}, {"a", "b", "c"}, false,
       {"auth pc bob", "mount pc/a", "mount pc/b", "mount pc/c"}},
  };
  for (const auto& c : cases) {
    FakeShares access;
    access.mounted = c.mounted;
    access.broken = c.broken;
    EXPECT_EQ(ConnectComputer(access, "pc", "bob", c.password, c.shares), c.connected) << c.name;
    EXPECT_EQ(access.calls, c.calls) << c.name;
  }
  FakeShares access;
  EXPECT_FALSE(ConnectComputer(access, "", "bob", "pw", {}));
  EXPECT_TRUE(access.calls.empty());
}

}  // namespace
}  // namespace core
