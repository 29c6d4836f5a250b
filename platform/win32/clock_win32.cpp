// Real time and the virtual clock on Windows, for the virtual receiver (see
// platform/clock.h). The programs' own pauses are Win32's Sleep here, in real
// time; so the virtual clock is only for tests that switch to it, and
// ORN_VIRTUAL_CLOCK is not read.
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/clock_source.h"
#include "platform/win32/precise_sleep_win32.h"

namespace {

std::atomic<bool> virtual_mode{false};

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
  precise_sleep_until_us(deadline_us, clock_real_now_us());
}

void clock_virtual_pause_done(int64_t) {
  clock_yield_unless_costly();
}

void clock_platform_yield(void) {
  std::this_thread::yield();
}
