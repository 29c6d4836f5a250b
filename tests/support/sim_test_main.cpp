// main for a test that opens the virtual receiver's ports ("sim:..."): the
// standard streams through the console layer and the receiver plugged in, as
// in the programs.
#include <gtest/gtest.h>

#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

int main(int argc, char **argv) {
  platform_streams_begin();
  virtual_receiver_plug_in();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
