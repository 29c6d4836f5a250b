// main for a test of code that prints through the platform: the standard
// streams go through the console layer first, as in the programs.
#include <gtest/gtest.h>

#include "platform/safe_start.h"

int main(int argc, char **argv) {
  platform_streams_begin();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
