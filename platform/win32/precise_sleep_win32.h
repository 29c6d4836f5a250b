// Pauses on Windows that are never shorter than asked and barely longer.
// Sleep there returns a timer period late (1 to 2 ms after timeBeginPeriod(1))
// and may return early when asked for less than a period; the receiver's
// protocol is made of 1 to 20 ms pauses. The programs call Sleep as always;
// the define below routes it here. Waits up to 10 ms sleep on a
// high-resolution waitable timer (timeBeginPeriod(1) and Sleep where Windows
// has none) until shortly before the deadline and watch the performance
// counter for the rest; longer waits (the key poll) only sleep.
#pragma once

#ifdef _WIN32

#include <windows.h>

void precise_Sleep(DWORD ms);
// Waits until the performance counter, in microseconds (clock_real_now_us),
// reaches deadline_us; as precisely as precise_Sleep.
void precise_sleep_until_us(long long deadline_us, long long now_us);

// For tests: false makes the calling thread sleep as on a Windows without the
// high-resolution timer.
void precise_sleep_use_timer(bool on);

#ifndef PRECISE_SLEEP_WIN32_IMPLEMENTATION
#define Sleep precise_Sleep
#endif

#endif  // _WIN32
