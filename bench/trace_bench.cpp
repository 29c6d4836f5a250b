// What the wire trace (ORN_TRACE) costs a byte on a real port: the same bytes
// through a pseudo-terminal with and without the trace, against the 260 us a
// byte takes on the line at 38400 baud.
//   trace_bench [BYTES]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/safe_start.h"

namespace {

// Mean microseconds per one-byte WriteFile on a fresh pseudo-terminal.
double microseconds_per_byte(int bytes) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  HANDLE port = CreateFileA(ptsname(master), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) return -1;
  // Drain the other side so that the pseudo-terminal never fills up.
  std::thread drain([master, bytes] {
    char buffer[4096];
    for (int got = 0; got < bytes;) {
      ssize_t count = read(master, buffer, sizeof buffer);
      if (count <= 0) break;
      got += (int)count;
    }
  });
  int64_t start = clock_now_us();
  for (int i = 0; i < bytes; i++) {
    BYTE value = (BYTE)i;
    DWORD written = 0;
    WriteFile(port, &value, 1, &written, nullptr);
  }
  int64_t elapsed = clock_now_us() - start;
  drain.join();
  CloseHandle(port);
  close(master);
  return (double)elapsed / bytes;
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  int bytes = argc > 1 ? atoi(argv[1]) : 20000;
  unsetenv("ORN_TRACE");
  double plain = microseconds_per_byte(bytes);
  std::string trace = "/tmp/trace_bench_" + std::to_string(getpid()) + ".log";
  setenv("ORN_TRACE", trace.c_str(), 1);
  double traced = microseconds_per_byte(bytes);
  unlink(trace.c_str());
  if (plain < 0 || traced < 0) {
    fprintf(stderr, "trace_bench: no pseudo-terminal\n");
    return 1;
  }
  printf("write to a pseudo-terminal: %.2f us a byte, %.2f us with ORN_TRACE\n", plain, traced);
  printf("the trace adds %.2f us a byte, %.2f%% of a byte's 260.4 us on the line\n", traced - plain,
         100.0 * (traced - plain) / 260.4);
  return 0;
}
