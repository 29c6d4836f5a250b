// The floor a platform allows a CV read: the port calls tarvel makes for one
// CV (36 single-byte overlapped writes, each waited for in an alertable
// SleepEx, and nine DSR samples) without any pause, through the program's own
// port code. bench/line_bench.py runs it on the line harness beside the
// Windows build's read-out under Wine: what a CV takes there beyond the
// protocol's pauses plus this floor is the program's own.
//   port_floor PORT [CVS]      (default 398)
#include <cstdio>
#include <cstdlib>

#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/safe_start.h"

namespace {

const int QUESTIONS_PER_CV = 9;  // eight bit questions and the verify
const int BYTES_PER_QUESTION = 4;

void ask_without_pauses(int cv, int question) {
  int command[BYTES_PER_QUESTION] = {0, cv % 256, question, 0xB0};
  for (int byte : command) write_byte(byte);
  DWORD status = 0;
  GetCommModemStatus(port_handle, &status);
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  if (argc < 2) {
    fprintf(stderr, "usage: port_floor PORT [CVS]\n");
    return 2;
  }
  int cvs = argc > 2 ? atoi(argv[2]) : 398;
  if (cvs < 1 || open_port(argv[1], 38400, 8, 0, 1, 12, 12) != 0) return 1;
  int64_t start_us = clock_now_us();
  for (int cv = 0; cv < cvs; cv++) {
    for (int question = 0; question < QUESTIONS_PER_CV; question++)
      ask_without_pauses(cv, question);
  }
  double per_cv_ms = (clock_now_us() - start_us) / 1000.0 / cvs;
  printf("port_floor: %d CVs, %.3f ms per CV of port calls without pauses\n", cvs, per_cv_ms);
  return 0;
}
