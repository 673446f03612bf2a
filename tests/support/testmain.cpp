// Entry point of the tests without windows.
#include "support/fixtureenv.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!testsupport::TakeFixtureEnvironment()) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
