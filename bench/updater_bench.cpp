// Times a full firmware update of a 16 KiB image (256 pages of 64 bytes) in
// real time on the virtual receiver with its 38400 baud line model, against the
// protocol's own minimum: its pauses plus ten bit times for every byte.
//   updater_bench [PORT]      (default "rsim:", no reset phase)
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "updater/updater.h"
#include "virtual_receiver/virtual_receiver.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

namespace {

const int pages = 256;
const int page_bytes = 64;
const double byte_us = 10 * 1e6 / 38400;  // ten bit times

std::vector<BYTE> image_page(int page) {
  std::vector<BYTE> data;
  for (int i = 0; i < page_bytes; i++) data.push_back((BYTE)(page * 31 + i * 7));
  return data;
}

int write_program_file(const char *path) {
  FILE *file = fopen(path, "wb");
  if (file == nullptr) return -1;
  fputc('8', file);
  fputc(0x5A, file);
  for (int page = 0; page < pages; page++) {
    fputc('u', file);
    fputc(page, file);
    std::vector<BYTE> data = image_page(page);
    fwrite(data.data(), 1, data.size(), file);
  }
  fputc('3', file);
  return fclose(file) == 0 ? 0 : -1;
}

bool flash_holds_image(VirtualReceiver *vr) {
  std::vector<BYTE> want;
  for (int page = 0; page < pages; page++) {
    std::vector<BYTE> data = image_page(page);
    want.insert(want.end(), data.begin(), data.end());
  }
  return vr != nullptr && vr_flash(vr) == want;
}

// Microseconds since the port opened at which the first and the last byte of
// the given value arrived, from the receiver's trace.
int64_t arrival_us(VirtualReceiver *vr, const char *hex, bool last) {
  std::string trace = vr_trace(vr);
  std::string tag = std::string(" TX ") + hex + "\n";
  size_t at = last ? trace.rfind(tag) : trace.find(tag);
  if (at == std::string::npos) return -1;
  size_t line = trace.rfind('\n', at);
  return std::stoll(trace.substr(line == std::string::npos ? 0 : line + 1));
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  std::string port = argc > 1 ? argv[1] : "rsim:";
  char path[64];
  snprintf(path, sizeof path, "/tmp/updater_bench_%d.bin", (int)getpid());
  if (write_program_file(path) != 0) return 1;
  take_port_argument(port.c_str());
  if (open_port() != 0 || read_program_header(path) != 0) return 1;
  remove(path);
  timeBeginPeriod(1);
  reset_receiver(reset_mode, reset_wait);
  int64_t start = clock_now_us();
  int code = transfer_firmware();
  double elapsed_s = (clock_now_us() - start) / 1e6;
  VirtualReceiver *vr = virtual_receiver_of(port_handle);

  int bytes = 2 + 256 + pages * (2 + page_bytes) + 1;
  double pauses_ms = 50 + 20 + pages * 2 * 30 + 2000;
  double minimum_s = pauses_ms / 1000 + bytes * byte_us / 1e6;
  printf("\nupdate: %d pages of %d bytes, %d bytes on the line\n", pages, page_bytes, bytes);
  printf("minimum: %.0f ms of pauses + %d bytes x %.1f us = %.3f s\n", pauses_ms, bytes, byte_us,
         minimum_s);
  printf("transfer: %.3f s; ratio %.4f (target <= 1.02)\n", elapsed_s, elapsed_s / minimum_s);
  if (vr != nullptr) {
    // The same without the closing pause: from '!' to the end record on the line.
    double line_s = (arrival_us(vr, "33", true) - arrival_us(vr, "21", false)) / 1e6;
    double line_minimum_s = (pauses_ms - 2000) / 1000 + (bytes - 1) * byte_us / 1e6;
    printf("'!' to end record: %.3f s; minimum %.3f s; ratio %.4f\n", line_s, line_minimum_s,
           line_s / line_minimum_s);
  }
  bool flashed = flash_holds_image(vr);
  printf("flash image %s\n", flashed ? "complete" : "WRONG");
  return code == EXIT_DONE && flashed ? 0 : 1;
}
