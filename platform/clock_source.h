// What each platform gives the clock (clock.cpp): its real time, a real pause
// until a deadline, and what a thread does after a pause on the virtual
// clock. Internal to platform/.
#pragma once

#include <cstdint>

// Microseconds since an arbitrary start, in real time.
int64_t clock_real_now_us(void);
// Waits in real time until clock_real_now_us() >= deadline_us, never less.
void clock_real_sleep_until(int64_t deadline_us);
// The virtual clock has just moved on by pause_us for this thread: let the
// others run, so that a poll loop on it cannot starve them.
void clock_virtual_pause_done(int64_t pause_us);
