// Real time on POSIX, and which clock is in force.
#include <sys/prctl.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sched.h>

#include "platform/clock.h"
#include "platform/clock_source.h"
#include "platform/platform.h"

namespace {

// -1: not decided yet; 0 real time; 1 virtual, by the program; 2 virtual, by
// ORN_VIRTUAL_CLOCK
std::atomic<int> virtual_mode{-1};

// A thread's default timer slack (50 us) stretches every short pause; the
// protocol's 1 ms pauses come 18 to a CV read, so ask for the least.
void tighten_timer_slack() {
  thread_local bool done = false;
  if (!done) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    done = true;
  }
}

// The kernel wakes a sleeper some 30 to 80 us late even at the least timer
// slack, and now and then well over 150 us. A CV read waits 54 times (18
// pauses, 36 byte times), so short waits sleep until shortly before the
// deadline and watch the clock for the rest (a byte time is watched whole).
// Longer waits (the 20 ms key poll among them) only sleep: there the lateness
// does not count and an idle program must stay idle.
const int64_t PRECISE_WAIT_LIMIT_US = 10000;
const int64_t WAKE_UP_MARGIN_US = 300;

void kernel_sleep_until(int64_t deadline_us) {
  timespec until;
  until.tv_sec = deadline_us / 1000000;
  until.tv_nsec = (deadline_us % 1000000) * 1000;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// On the virtual clock a key poll's 20 ms pause would cost nothing and its
// loop would take a whole core; pauses that long give up a little real time.
const int64_t VIRTUAL_POLL_PAUSE_US = 20000;
const long VIRTUAL_POLL_REAL_NS = 200000;

}  // namespace

bool clock_is_virtual(void) {
  int mode = virtual_mode.load();
  if (mode < 0) {
    int wanted = getenv("ORN_VIRTUAL_CLOCK") != nullptr ? 2 : 0;
    virtual_mode.compare_exchange_strong(mode, wanted);
    mode = virtual_mode.load();
  }
  return mode > 0;
}

int64_t clock_real_now_us(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

void clock_real_sleep_until(int64_t deadline_us) {
  tighten_timer_slack();
  int64_t remaining = deadline_us - clock_real_now_us();
  if (remaining > PRECISE_WAIT_LIMIT_US) {
    kernel_sleep_until(deadline_us);
    return;
  }
  if (remaining > WAKE_UP_MARGIN_US) kernel_sleep_until(deadline_us - WAKE_UP_MARGIN_US);
  while (clock_real_now_us() < deadline_us) {
  }
}

void clock_virtual_pause_done(int64_t pause_us) {
  if (pause_us >= VIRTUAL_POLL_PAUSE_US) {
    timespec real_pause = {0, VIRTUAL_POLL_REAL_NS};
    nanosleep(&real_pause, nullptr);
  } else {
    // Let other threads run, so that a poll loop on the virtual clock does not
    // starve the rest of the process.
    clock_yield_unless_costly();
  }
}

void clock_platform_yield(void) {
  sched_yield();
}

void clock_use_virtual(bool on) {
  virtual_mode.store(on ? 1 : 0);
}

bool clock_leave_environment_virtual(void) {
  clock_is_virtual();
  int from_environment = 2;
  return virtual_mode.compare_exchange_strong(from_environment, 0);
}

void Sleep(DWORD ms) {
  clock_sleep_us((int64_t)ms * 1000);
}

UINT timeBeginPeriod(UINT) {
  tighten_timer_slack();
  return 0;
}

UINT timeEndPeriod(UINT) {
  return 0;
}
