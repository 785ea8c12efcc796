// A later start reaches the running window through the instance channel.
#include "scheduler/ui/runninginstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "platform/instancechannel.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "tests/support/modalbox.h"
#include "tests/support/testenv.h"

namespace {

using namespace std::chrono_literals;

// Runs the event loop until the future is ready (or 30 s have passed).
template <class T>
T Await(std::future<T>& f) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (f.wait_for(0s) == std::future_status::ready) loop.quit();
  });
  poll.start(5);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  return f.get();
}

class RunningInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
    form = std::make_unique<ui::TForm1>();
    form->Timer2->stop();
    path = platform::InstanceSocketPath((testenv::testRoot() / "runtime" / "Quillomet.lock").string());
    ASSERT_TRUE(channel.Listen(path));
    requests = std::make_unique<ui::ShowRequests>(channel);
    // As the program binds it.
    QObject::connect(requests.get(), &ui::ShowRequests::showRequested, form.get(),
                     ui::Guard([this] { form->Affiche1Click(); }));
  }
  std::unique_ptr<ui::TForm1> form;
  std::string path;
  platform::InstanceChannel channel;
  std::unique_ptr<ui::ShowRequests> requests;
};

TEST_F(RunningInstance, ALaterStartBringsTheWindowBackHiddenOrMinimised) {
  for (bool tray : {true, false}) {
    form->TrayAvailable = [tray] { return tray; };
    form->show();
    form->Button5Click();
    ASSERT_EQ(form->isHidden(), tray);
    ASSERT_EQ(form->isMinimized(), !tray);
    auto asked = std::async(std::launch::async, [this] { return platform::AskToShow(path, 30s); });
    EXPECT_EQ(Await(asked), platform::AskResult::Shown) << tray;
    EXPECT_TRUE(form->isVisible()) << tray;
    EXPECT_FALSE(form->isMinimized()) << tray;
  }
}

// Peers that send nothing, or the wrong thing, neither show the window nor stop the next one.
TEST_F(RunningInstance, BadPeersChangeNothing) {
  form->TrayAvailable = [] { return true; };
  form->show();
  form->Button5Click();
  std::vector<int> peers;
  for (std::string_view sent : {std::string_view(""), std::string_view("quit\n"), std::string_view("show\nshow\n"),
                                std::string_view("sho"), std::string_view("x")}) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    (void)!send(fd, sent.data(), sent.size(), MSG_NOSIGNAL);
    peers.push_back(fd);
  }
  // The window's loop drops the three that sent something else; the two silent ones wait.
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    int dropped = 0;
    for (int fd : peers) {
      char c;
      if (recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) == 0) ++dropped;
    }
    if (dropped == 3) loop.quit();
  });
  poll.start(5);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_TRUE(form->isHidden());
  auto asked = std::async(std::launch::async, [this] { return platform::AskToShow(path, 30s); });
  EXPECT_EQ(Await(asked), platform::AskResult::Shown);
  EXPECT_TRUE(form->isVisible());
  for (int fd : peers) close(fd);
}

TEST(RunningInstanceBox, ALaterStartThatGetsNoAnswerSaysSoInFrench) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  const QString text = testenv::WithBox([] { ui::SayInstanceDoesNotAnswer(); }, &icon);
  EXPECT_EQ(text, QStringLiteral("Quillomet est déjà en cours d'exécution mais ne répond pas."));
  EXPECT_EQ(icon, QMessageBox::Warning);
}

}  // namespace
