// Pauses: never shorter than asked, in real time and on the virtual clock.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/platform.h"

namespace {

int64_t monotonic_us() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

int64_t thread_cpu_us() {
  timespec used;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return used.tv_sec * 1000000 + used.tv_nsec / 1000;
}

class RealClock : public testing::Test {
 protected:
  void SetUp() override { clock_use_virtual(false); }
};

TEST_F(RealClock, SleepNeverEndsEarly) {
  for (DWORD ms : {0u, 1u, 3u, 10u, 20u}) {
    for (int round = 0; round < 20; round++) {
      int64_t start = clock_now_us();
      Sleep(ms);
      EXPECT_GE(clock_now_us() - start, (int64_t)ms * 1000) << "Sleep(" << ms << ")";
    }
  }
}

TEST_F(RealClock, WaitingForADeadlineEndsAtOrAfterIt) {
  for (int64_t ahead : {0, 100, 260, 1000, 12000}) {
    int64_t deadline = clock_now_us() + ahead;
    clock_sleep_until_us(deadline);
    EXPECT_GE(clock_now_us(), deadline) << ahead << " us ahead";
  }
}

// The key poll's 20 ms pause must leave the processor to others.
TEST_F(RealClock, LongPausesDoNotSpin) {
  int64_t cpu_start = thread_cpu_us();
  for (int i = 0; i < 10; i++) Sleep(20);
  int64_t cpu_us = thread_cpu_us() - cpu_start;
  EXPECT_LT(cpu_us, 2000) << "200 ms of pauses used " << cpu_us << " us of processor time";
}

TEST(VirtualClock, PausesAdvanceTheClockExactlyAndAtOnce) {
  clock_use_virtual(true);
  int64_t start = clock_now_us();
  int64_t real_start = monotonic_us();
  Sleep(10000);
  Sleep(3);
  clock_sleep_us(260);
  EXPECT_EQ(10003260, clock_now_us() - start);
  clock_sleep_until_us(start);  // a deadline in the past changes nothing
  EXPECT_EQ(10003260, clock_now_us() - start);
  EXPECT_LT(monotonic_us() - real_start, 1000000);  // ten seconds passed at once
  clock_use_virtual(false);
}

// A key poll (Sleep(20) in a loop) on the virtual clock must not take a core.
TEST(VirtualClock, APollLoopLeavesTheProcessorMostlyIdle) {
  clock_use_virtual(true);
  int64_t cpu_start = thread_cpu_us();
  int64_t real_start = monotonic_us();
  while (monotonic_us() - real_start < 200000) Sleep(20);
  clock_use_virtual(false);
  int64_t cpu_us = thread_cpu_us() - cpu_start;
  EXPECT_LT(cpu_us, 100000) << "a 200 ms poll loop used " << cpu_us << " us of processor time";
}

// A poll loop of 1 us steps on the virtual clock, with a busy process on the
// same processor: each yield would hand that process a whole time slice, and
// the loop would take minutes instead of a moment.
TEST(VirtualClock, ShortStepsStayQuickBesideABusyProcess) {
  cpu_set_t mine;
  ASSERT_EQ(0, sched_getaffinity(0, sizeof mine, &mine));
  int cpu = 0;
  while (!CPU_ISSET(cpu, &mine)) cpu++;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  pid_t busy = fork();
  ASSERT_GE(busy, 0);
  if (busy == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
    sched_setaffinity(0, sizeof one, &one);
    volatile unsigned spin = 0;  // a side effect: the loop cannot be left out
    for (;;) spin = spin + 1;
  }
  bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;
  int64_t real_us = 0;
  if (pinned) {
    clock_use_virtual(true);
    int64_t real_start = monotonic_us();
    for (int step = 0; step < 20000; step++) clock_sleep_us(1);
    real_us = monotonic_us() - real_start;
    clock_use_virtual(false);
    sched_setaffinity(0, sizeof mine, &mine);
  }
  kill(busy, SIGKILL);
  waitpid(busy, nullptr, 0);
  ASSERT_TRUE(pinned);
  EXPECT_LT(real_us, 3000000) << "20000 steps of 1 us took " << real_us << " us";
}

}  // namespace
