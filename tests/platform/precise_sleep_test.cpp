// Windows pauses: never shorter than asked, on the high-resolution timer and
// on the fallback without it; long waits sleep rather than watch the clock.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

long long now_us(void) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return now.QuadPart / frequency.QuadPart * 1000000 +
         now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

long long thread_cpu_us(void) {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime, k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime, u.HighPart = user.dwHighDateTime;
  return (long long)((k.QuadPart + u.QuadPart) / 10);
}

struct Sleeper {
  const char *name;
  bool timer;
};

class PreciseSleep : public testing::TestWithParam<Sleeper> {
 protected:
  void SetUp() override { precise_sleep_use_timer(GetParam().timer); }
  void TearDown() override { precise_sleep_use_timer(true); }
};

// The protocol's pauses and both sides of the 10 ms limit, each a few times.
TEST_P(PreciseSleep, NeverShorterThanAsked) {
  for (DWORD ms : {1u, 2u, 3u, 10u, 11u, 20u}) {
    for (int round = 0; round < 4; round++) {
      long long start = now_us();
      Sleep(ms);
      long long took = now_us() - start;
      EXPECT_GE(took, (long long)ms * 1000) << ms << " ms took " << took << " us";
    }
  }
}

// The key poll's 20 ms wait: an idle program must stay idle.
TEST_P(PreciseSleep, LongWaitsOnlySleep) {
  long long cpu = thread_cpu_us();
  long long start = now_us();
  for (int round = 0; round < 10; round++) Sleep(20);
  long long wall = now_us() - start;
  EXPECT_LT(thread_cpu_us() - cpu, wall / 4) << "of " << wall << " us";
}

INSTANTIATE_TEST_SUITE_P(Sleepers, PreciseSleep,
                         testing::Values(Sleeper{"timer", true}, Sleeper{"fallback", false}),
                         [](const testing::TestParamInfo<Sleeper> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
