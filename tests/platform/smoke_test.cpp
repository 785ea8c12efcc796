#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The harness gives every test a private home.
TEST(TestEnvironment, HomeIsPrivate) {
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::filesystem::path(data), testenv::testRoot() / "data");
  EXPECT_TRUE(std::filesystem::is_directory(data));
}
