// Real time and the virtual clock on Windows, for the virtual receiver (see
// platform/clock.h). The programs' own pauses are Win32's Sleep here, in real
// time; so the virtual clock is only for tests that switch to it, and
// ORN_VIRTUAL_CLOCK is not read.
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/clock_source.h"

namespace {

std::atomic<bool> virtual_mode{false};

// Sleep wakes up to a timer period late, so it is asked for the time less two
// milliseconds and the rest is watched on the clock: a byte time is 260 us.
const int64_t WATCHED_US = 2000;

}  // namespace

bool clock_is_virtual(void) {
  return virtual_mode.load();
}

void clock_use_virtual(bool on) {
  virtual_mode.store(on);
}

int64_t clock_real_now_us(void) {
  static LARGE_INTEGER rate = [] {
    LARGE_INTEGER r;
    QueryPerformanceFrequency(&r);
    return r;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  // Split so that a long uptime cannot overflow the multiplication.
  return now.QuadPart / rate.QuadPart * 1000000 +
         now.QuadPart % rate.QuadPart * 1000000 / rate.QuadPart;
}

void clock_real_sleep_until(int64_t deadline_us) {
  int64_t remaining = deadline_us - clock_real_now_us();
  if (remaining > WATCHED_US) Sleep((DWORD)((remaining - WATCHED_US) / 1000));
  while (clock_real_now_us() < deadline_us) std::this_thread::yield();
}

void clock_virtual_pause_done(int64_t) {
  std::this_thread::yield();
}
