#include "scheduler/ui/slotguard.h"

#include <QPushButton>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class SlotGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetExceptionHandler([this](const std::exception& e) { seen.push_back(e.what()); });
  }
  void TearDown() override { ui::SetExceptionHandler(nullptr); }
  std::vector<std::string> seen;
};

TEST_F(SlotGuardTest, ExceptionOfAConnectedSlotReachesTheHandlerNotQt) {
  QPushButton button;
  int after = 0;
  QObject::connect(&button, &QPushButton::clicked, &button,
                   ui::Guard([] { throw std::runtime_error("Cible non présente"); }));
  QObject::connect(&button, &QPushButton::clicked, &button, [&] { ++after; });
  button.click();
  ASSERT_EQ(seen, std::vector<std::string>{"Cible non présente"});
  // The emission went on to the next slot.
  EXPECT_EQ(after, 1);
}

TEST_F(SlotGuardTest, ArgumentsArePassedOnOrDropped) {
  QPushButton button;
  button.setCheckable(true);
  bool got = false;
  int plain = 0;
  QObject::connect(&button, &QPushButton::toggled, &button, ui::Guard([&](bool on) { got = on; }));
  QObject::connect(&button, &QPushButton::toggled, &button, ui::Guard([&] { ++plain; }));
  button.setChecked(true);
  EXPECT_TRUE(got);
  EXPECT_EQ(plain, 1);
}

TEST_F(SlotGuardTest, UnknownExceptionsAndAFailingHandlerStayInside) {
  ui::Guarded([] { throw 42; });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "Exception inconnue");

  ui::SetExceptionHandler([](const std::exception&) { throw std::logic_error("handler"); });
  EXPECT_NO_THROW(ui::Guarded([] { throw std::runtime_error("x"); }));
}

TEST_F(SlotGuardTest, HandlerCallingHandlerAbortsBothAndReportsOnce) {
  // A handler that calls another one directly: the inner exception ends the outer one too.
  bool outerFinished = false;
  auto inner = [] { throw std::runtime_error("Impossible de créer /x"); };
  ui::Guarded([&] {
    inner();
    outerFinished = true;
  });
  EXPECT_FALSE(outerFinished);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
