// Time as the POSIX stand-in keeps it: real time, or a virtual clock on which a
// pause advances the clock at once. Tests of protocol timing use the virtual
// clock so that they are exact and fast. The environment variable
// ORN_VIRTUAL_CLOCK (presence only), read at the first use of the clock, starts
// a process on the virtual clock; a real port, once opened, ends it.
#pragma once

#include <cstdint>

// Microseconds since an arbitrary start, on the clock in force.
int64_t clock_now_us(void);
// Pauses for us microseconds: never less, and as little more as the kernel allows.
// On the virtual clock it only advances the clock.
void clock_sleep_us(int64_t us);
// Waits until clock_now_us() >= deadline_us.
void clock_sleep_until_us(int64_t deadline_us);
// Switches the process to the virtual clock (on) or back to real time (off).
void clock_use_virtual(bool on);
bool clock_is_virtual(void);
// A real device is about to be driven: a virtual clock that only the
// environment asked for gives way to real time, so that no leftover variable
// can hurry a real receiver. Returns true when it did.
bool clock_leave_environment_virtual(void);
