// Reads on lines like USB serial adapters', in real time on the virtual
// receiver's adapter models: for each, the line's check, then CV reads, each
// against what that line allows. A line allows ten questions a CV (eight bits,
// the value, its complement; nine on an ideal line), each its four bytes, the
// time until a sample started then has returned showing the answer, and 3 ms.
//   adapter_bench [READS]      (default 20 reads a line)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/line_check.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "virtual_receiver/virtual_receiver.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

namespace {

const double BYTE_US = 1e7 / 38400;

struct AdapterModel {
  const char *what;
  const char *options;
  // The model's worst answer: from the opcode off the wire to the status
  // showing it (the byte's delay, the receiver's 1 ms, jitter, a tick, its
  // delay), and a status call's round trip.
  double answer_us;
  double round_trip_us;
};

const AdapterModel MODELS[] = {
    {"ideal line", "", 1000, 0},
    {"writes complete 1 ms before the byte arrives", "early=1000", 2000, 0},
    {"modem status a 1 ms round trip (ftdi_sio, cp210x)", "status=1000", 1000, 1000},
    {"status reported every 2 ms", "tick=2000", 3000, 0},
    {"status every 16 ms (FTDI latency timer)", "tick=16000,tickdelay=1000", 18000, 0},
    {"CH340 on Linux: hand-over, 1 ms ticks, jitter", "early=500,tick=1000,jitter=500", 3000, 0},
};

// What the line allows a CV read: nine questions on an ideal line, ten where
// the complement is asked too. A sample's call shows the status as of its
// middle, but starts no sooner than the receiver's 1 ms.
double allowed_cv_us(const AdapterModel &m) {
  int questions = m.answer_us > 1000 ? 10 : 9;
  double starts = m.answer_us - m.round_trip_us / 2;
  double sample_returns = (starts > 1000 ? starts : 1000) + m.round_trip_us;
  return questions * (4 * BYTE_US + sample_returns + 3000);
}

// The port as open_port leaves it, without its reader: one process opens
// one line after another.
int open_line(const std::string &port) {
  port_handle = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port_handle == INVALID_HANDLE_VALUE) return -1;
  port_config_size = sizeof(COMMCONFIG);
  GetCommConfig(port_handle, &port_config, &port_config_size);
  apply_line_settings(&port_config.dcb, 38400, 8, 0, 1, 12, 12);
  SetCommConfig(port_handle, &port_config, port_config_size);
  line_check_forget();
  return 0;
}

int bench(const AdapterModel &m, int reads) {
  std::string port = std::string("sim:") + (m.options[0] ? "?" : "") + m.options;
  if (open_line(port) != 0) return 1;
  receiver_messages_quiet = 1;
  reset_receiver(2000);
  int64_t start = clock_now_us();
  int verdict = line_check(LINE_CHECK_PAIRS);
  double check_s = (clock_now_us() - start) / 1e6;
  VirtualReceiver *vr = virtual_receiver_of(port_handle);
  int wrong = 0, failed = 0;
  start = clock_now_us();
  for (int i = 0; i < reads; i++) {
    int number = 1 + i * 37 % 256, value = (i * 101 + 7) % 255;
    vr_set_cv(vr, i % 2, number, value);
    cv_selection = {number, i % 2, 0};
    if (line_check_due()) line_check(LINE_RECHECK_PAIRS);
    int got = read_cv();
    failed += got < 0;
    wrong += got >= 0 && got != value;
  }
  double cv_us = (clock_now_us() - start) / (double)reads;
  double allowed_us = allowed_cv_us(m);
  printf(
      "%s (%s): check %.2f s, %s, wait %.2f ms; %d reads, %.1f ms a CV; the line allows "
      "%.1f ms; ratio %.3f (target <= 1.1); %d failed, %d wrong\n",
      m.what, m.options[0] ? m.options : "-", check_s,
      verdict == LINE_SERVES ? "serves" : "does not serve", answer_wait_us / 1000.0, reads,
      cv_us / 1000, allowed_us / 1000, cv_us / allowed_us, failed, wrong);
  fflush(stdout);
  CloseHandle(port_handle);
  port_handle = INVALID_HANDLE_VALUE;
  return wrong == 0 && verdict == LINE_SERVES ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  int reads = argc > 1 ? atoi(argv[1]) : 20;
  if (reads < 1) reads = 20;
  timeBeginPeriod(1);
  int failures = 0;
  for (const AdapterModel &m : MODELS) failures += bench(m, reads);
  return failures == 0 ? 0 : 1;
}
