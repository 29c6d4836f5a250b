// The clock in force (see clock.h) and the pauses on it, the same on both
// builds; real time comes from the platform (clock_source.h).
#include "platform/clock.h"

#include <atomic>

#include "platform/clock_source.h"

namespace {

std::atomic<int64_t> virtual_now_us{0};

// A yield that took this long lost the processor to another process; the
// yields of the next YIELD_REST_US are then left out.
const int64_t COSTLY_YIELD_US = 1000;
const int64_t YIELD_REST_US = 10000;
thread_local int64_t yields_resume_us = 0;

void virtual_advance_to(int64_t deadline_us) {
  int64_t now = virtual_now_us.load();
  int64_t pause_us = deadline_us - now;
  while (now < deadline_us && !virtual_now_us.compare_exchange_weak(now, deadline_us)) {
  }
  clock_virtual_pause_done(pause_us);
}

}  // namespace

int64_t clock_now_us(void) {
  return clock_is_virtual() ? virtual_now_us.load() : clock_real_now_us();
}

void clock_sleep_until_us(int64_t deadline_us) {
  if (clock_is_virtual()) {
    virtual_advance_to(deadline_us);
  } else {
    clock_real_sleep_until(deadline_us);
  }
}

void clock_yield_unless_costly(void) {
  int64_t before_us = clock_real_now_us();
  if (before_us < yields_resume_us) return;
  clock_platform_yield();
  int64_t after_us = clock_real_now_us();
  if (after_us - before_us > COSTLY_YIELD_US) yields_resume_us = after_us + YIELD_REST_US;
}

void clock_sleep_us(int64_t us) {
  if (us < 0) us = 0;
  clock_sleep_until_us(clock_now_us() + us);
}
