#include "testenv.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  testenv::install();
  return RUN_ALL_TESTS();
}
