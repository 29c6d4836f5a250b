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
// others run, so that a poll loop on it cannot starve them (for a short pause
// through clock_yield_unless_costly).
void clock_virtual_pause_done(int64_t pause_us);
// Gives up the processor to whoever is ready to run (sched_yield, or the
// Windows equivalent).
void clock_platform_yield(void);
// clock_platform_yield, but left out for a while after a yield that lost the
// processor for a whole time slice: on a machine busy with other processes
// every yield costs milliseconds, and a poll loop of 1 us steps on the
// virtual clock would take minutes. Defined in clock.cpp.
void clock_yield_unless_costly(void);
