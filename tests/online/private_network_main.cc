// The main of the test programs that run in a private network namespace of
// their own (private_network.h), entered before any thread starts, also for
// the test discovery. The agents and the copies of the program that a test
// starts share it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "private_network.h"

int main(int argc, char** argv) {
  // Set once entered: a copy of the program run as another user, who may not
  // make a namespace, stays in the one it was given.
  constexpr char kEntered[] = "WARDEX_TEST_PRIVATE_NETWORK";
  if (std::getenv(kEntered) == nullptr) {
    std::string reason;
    if (!wardex::test::EnterPrivateNetwork(&reason)) {
      std::fprintf(stderr, "these tests need a private network namespace: %s\n", reason.c_str());
      return 1;
    }
    setenv(kEntered, "1", 1);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
