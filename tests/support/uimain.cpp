// Entry point of the window tests: the program's own application object on the offscreen platform.
#include "app/application.h"
#include "support/fixtureenv.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  // Test discovery runs without the test environment.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (!testsupport::TakeFixtureEnvironment()) return 1;
  TApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
