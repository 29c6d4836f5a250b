// The latency timer's words in the port listing, the same on both builds.
#include <string>

#include "services/port_list.h"

// An adapter reports the receiver's answer (DSR) only when its latency timer
// runs out: above 1 ms every answer can arrive that much later.
std::string port_latency_text(long ms) {
  if (ms < 0 || ms > 255) return "";
  std::string text = "Latenz " + std::to_string(ms) + " ms";
  if (ms > 1) text += " (zu hoch: auf 1 ms stellen)";
  return text;
}
