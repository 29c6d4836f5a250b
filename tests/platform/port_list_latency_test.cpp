// The latency timer's words in the port listing, on both builds: the hint
// from 2 ms up, nothing for a value the timer cannot hold.
#include <gtest/gtest.h>

#include <string>

#include "platform/port_list.h"

namespace {

TEST(PortLatencyText, OneMillisecondIsRightMoreIsFlagged) {
  struct Case {
    long ms;
    const char *text;
  } cases[] = {
      {1, "Latenz 1 ms"},
      {0, "Latenz 0 ms"},
      {2, "Latenz 2 ms (zu hoch: auf 1 ms stellen)"},
      {16, "Latenz 16 ms (zu hoch: auf 1 ms stellen)"},
      {255, "Latenz 255 ms (zu hoch: auf 1 ms stellen)"},
      {-1, ""},
      {256, ""},
      {1000, ""},
  };
  for (const Case &c : cases) EXPECT_EQ(port_latency_text(c.ms), c.text) << c.ms;
}

}  // namespace
