// Real time and the virtual clock on Windows, for the virtual receiver (see
// platform/clock.h). The programs' own pauses are Win32's Sleep here, in real
// time; so the virtual clock is only for tests that switch to it, and
// ORN_VIRTUAL_CLOCK is not read.
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"

namespace {

std::atomic<bool> virtual_mode{false};
std::atomic<int64_t> virtual_now_us{0};

int64_t real_now_us() {
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

// Sleep wakes up to a timer period late, so it is asked for the time less two
// milliseconds and the rest is watched on the clock: a byte time is 260 us.
const int64_t WATCHED_US = 2000;

void real_sleep_until(int64_t deadline_us) {
  int64_t remaining = deadline_us - real_now_us();
  if (remaining > WATCHED_US) Sleep((DWORD)((remaining - WATCHED_US) / 1000));
  while (real_now_us() < deadline_us) std::this_thread::yield();
}

void virtual_advance_to(int64_t deadline_us) {
  int64_t now = virtual_now_us.load();
  while (now < deadline_us && !virtual_now_us.compare_exchange_weak(now, deadline_us)) {
  }
  std::this_thread::yield();
}

}  // namespace

bool clock_is_virtual(void) {
  return virtual_mode.load();
}

void clock_use_virtual(bool on) {
  virtual_mode.store(on);
}

int64_t clock_now_us(void) {
  return clock_is_virtual() ? virtual_now_us.load() : real_now_us();
}

void clock_sleep_until_us(int64_t deadline_us) {
  if (clock_is_virtual()) {
    virtual_advance_to(deadline_us);
  } else {
    real_sleep_until(deadline_us);
  }
}

void clock_sleep_us(int64_t us) {
  if (us < 0) us = 0;
  clock_sleep_until_us(clock_now_us() + us);
}
