// What --verify adds to every CV write, in real time on the virtual receiver
// with its 38400 baud line model, against the protocol's own minimum for one
// verify: 4 bytes of 10 bit times, 1 ms to the sample and 3 ms after it.
//   verify_bench [WRITES]      (default 250)
#include <cstdio>
#include <cstdlib>

#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

namespace {

const double verify_minimum_ms = 4.0 + 4 * 10 * 1000.0 / 38400;

int bench_verifies(int writes) {
  if (open_port("sim:", 38400, 8, 0, 1, 12, 12) != 0) return -1;
  reset_receiver(2000);
  double total_ms = 0, worst_ms = 0;
  int unconfirmed = 0;
  for (int i = 0; i < writes; i++) {
    cv_selection = {1 + i % 256, i % 2, (i * 7) & 0xFF};
    write_cv();
    int64_t start = clock_now_us();
    int confirmed = verify_cv();
    double took_ms = (clock_now_us() - start) / 1000.0;
    total_ms += took_ms;
    if (took_ms > worst_ms) worst_ms = took_ms;
    if (!confirmed) unconfirmed++;
  }
  double mean_ms = total_ms / writes;
  printf("verify after write: %d writes, added mean %.3f ms, worst %.3f ms\n", writes, mean_ms,
         worst_ms);
  printf("verify after write: minimum %.3f ms, ratio %.4f (target <= 1.02)\n", verify_minimum_ms,
         mean_ms / verify_minimum_ms);
  if (unconfirmed > 0) printf("verify after write: %d writes not confirmed\n", unconfirmed);
  return unconfirmed == 0 ? 0 : -1;
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  int writes = argc > 1 ? atoi(argv[1]) : 250;
  if (writes <= 0) writes = 250;
  return bench_verifies(writes) == 0 ? 0 : 1;
}
