// Precise pauses on Windows (see precise_sleep_win32.h).
#define PRECISE_SLEEP_WIN32_IMPLEMENTATION
#include "platform/win32/precise_sleep_win32.h"

#include <mmsystem.h>

#include <atomic>
#include <cstdlib>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002  // Windows 10 1803 and later
#endif

namespace {

const DWORD PRECISE_LIMIT_MS = 10;
// How long before the deadline the sleep ends follows how late the sleeper has
// been waking: about half a millisecond for the high-resolution timer on
// Windows, a millisecond and more where timers have millisecond steps.
const long long MARGIN_MIN_US = 200;
const long long MARGIN_MAX_US = 2000;

INIT_ONCE set_up_once = INIT_ONCE_STATIC_INIT;
long long ticks_per_second = 1;
std::atomic<long long> mean_lateness_us{400};

thread_local bool timer_wanted = true;
thread_local bool timer_tried = false;
thread_local HANDLE timer = nullptr;

BOOL CALLBACK set_up(PINIT_ONCE, PVOID, PVOID *) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  ticks_per_second = frequency.QuadPart;
  return TRUE;
}

long long now_ticks(void) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Split so that a wait of days cannot overflow the multiplication.
long long ticks_of_us(long long us) {
  return us / 1000000 * ticks_per_second + us % 1000000 * ticks_per_second / 1000000;
}

long long us_of_ticks(long long ticks) {
  return ticks / ticks_per_second * 1000000 + ticks % ticks_per_second * 1000000 / ticks_per_second;
}

HANDLE thread_timer(void) {
  if (!timer_wanted) return nullptr;
  if (!timer_tried) {
    timer_tried = true;
    timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                   TIMER_ALL_ACCESS);
  }
  return timer;
}

void end_period(void) {
  timeEndPeriod(1);
}

// Sleeps until about until_ticks, on the timer or in whole milliseconds.
void sleep_until_about(long long until_ticks) {
  long long remaining_us = us_of_ticks(until_ticks - now_ticks());
  if (remaining_us <= 0) return;
  HANDLE waitable = thread_timer();
  if (waitable != nullptr) {
    LARGE_INTEGER due;
    due.QuadPart = -remaining_us * 10;  // relative, in 100 ns
    if (SetWaitableTimer(waitable, &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(waitable, INFINITE) == WAIT_OBJECT_0) {
      return;
    }
  }
  static std::atomic<bool> period_set{false};
  if (!period_set.exchange(true)) {
    timeBeginPeriod(1);
    atexit(end_period);  // a period begun is ended, as the programs end theirs
  }
  if (remaining_us >= 1000) ::Sleep((DWORD)(remaining_us / 1000));
}

long long margin_us(void) {
  long long margin = 2 * mean_lateness_us.load() + 100;
  return margin < MARGIN_MIN_US ? MARGIN_MIN_US : margin > MARGIN_MAX_US ? MARGIN_MAX_US : margin;
}

void learn_lateness(long long late_us) {
  if (late_us < 0) late_us = 0;
  long long mean = mean_lateness_us.load();
  mean_lateness_us.store(mean + (late_us - mean) / 8);
}

void precise_wait(long long deadline) {
  long long wake_at = deadline - ticks_of_us(margin_us());
  if (wake_at > now_ticks()) {
    sleep_until_about(wake_at);
    learn_lateness(us_of_ticks(now_ticks() - wake_at));
  }
  while (now_ticks() < deadline) YieldProcessor();
}

// Sleep may come back early: sleep again for what is left.
void coarse_wait(long long deadline) {
  for (;;) {
    long long left_us = us_of_ticks(deadline - now_ticks());
    if (left_us <= 0) return;
    ::Sleep((DWORD)((left_us + 999) / 1000));
  }
}

}  // namespace

void precise_Sleep(DWORD ms) {
  if (ms == 0 || ms == INFINITE) {
    ::Sleep(ms);
    return;
  }
  InitOnceExecuteOnce(&set_up_once, set_up, nullptr, nullptr);
  long long deadline = now_ticks() + ticks_of_us((long long)ms * 1000);
  if (ms <= PRECISE_LIMIT_MS) {
    precise_wait(deadline);
  } else {
    coarse_wait(deadline);
  }
}

void precise_sleep_until_us(long long deadline_us, long long now_us) {
  if (deadline_us <= now_us) return;
  InitOnceExecuteOnce(&set_up_once, set_up, nullptr, nullptr);
  long long remaining_us = deadline_us - now_us;
  long long deadline = now_ticks() + ticks_of_us(remaining_us);
  if (remaining_us <= (long long)PRECISE_LIMIT_MS * 1000) {
    precise_wait(deadline);
  } else {
    coarse_wait(deadline);
  }
}

void precise_sleep_use_timer(bool on) {
  timer_wanted = on;
}
