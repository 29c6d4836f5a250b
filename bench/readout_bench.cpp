// Times a full read-out (`a`, CVs 1 to 199 of both banks) in real time on the
// virtual receiver with its 38400 baud line model, against the protocol's own
// minimum of 45.4 ms per CV read, one verify more for CV 1a's 255 (its
// complement must be refused), and the line's check before the first read.
//   readout_bench [PORT]      (default "sim:")
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cvtool/cvtool.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

namespace {
const int cv_reads = 398;
const double read_minimum_ms = 45.4;  // 36 ms of pauses + 36 bytes of 10 bit times
const double verify_ms = 4 + 4 * 10 / 38.4;
// CV 1 read and 16 pairs of verifies, on a line that answers at once.
const double line_check_ms = (8 + 2 * 16) * verify_ms;

int count_lines(const char *name) {
  FILE *file = fopen(name, "r");
  if (file == nullptr) return -1;
  int lines = 0;
  for (int c; (c = fgetc(file)) != EOF;) lines += c == '\n';
  fclose(file);
  return lines;
}
}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  const char *port = argc > 1 ? argv[1] : "sim:";
  timeBeginPeriod(1);
  if (open_port(port, 38400, 8, 0, 1, 12, 12) != 0) return 1;
  reset_receiver(2000);
  snprintf(data_file_name, DATA_FILE_NAME_SIZE, "/tmp/readout_bench_%d.txt", (int)getpid());
  remove(data_file_name);
  int64_t start = clock_now_us();
  read_out_cvs();
  double elapsed_s = (clock_now_us() - start) / 1e6;
  int lines = count_lines(data_file_name);
  remove(data_file_name);
  double extra_ms = line_check_ms + verify_ms;
  double minimum_s = (cv_reads * read_minimum_ms + extra_ms) / 1000.0;
  double ratio = elapsed_s / minimum_s;
  printf("\nread-out: %d lines in %.3f s\n", lines, elapsed_s);
  printf("minimum:  %d x %.1f ms + %.1f ms = %.3f s\n", cv_reads, read_minimum_ms, extra_ms,
         minimum_s);
  printf("ratio:    %.4f (target <= 1.02)\n", ratio);
  return lines == cv_reads ? 0 : 1;
}
