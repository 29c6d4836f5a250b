// How much longer the programs' short pauses take on this machine than asked:
// Sleep(1) and Sleep(3), the pauses of a CV read, through the programs' own
// clock. A read-out over a line can be no faster than its pauses allow, so
// this tells the machine's share of a read-out's excess from the programs'.
//   pause_bench [PAUSES]      (default 1000 of each)
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/safe_start.h"

namespace {

struct Overshoot {
  double mean_us;
  int64_t worst_us;
  double share_over_100_us;
};

Overshoot measure(DWORD ms, int pauses) {
  int64_t total = 0, worst = 0;
  int over_100 = 0;
  for (int i = 0; i < pauses; i++) {
    int64_t start = clock_now_us();
    Sleep(ms);
    int64_t over = clock_now_us() - start - (int64_t)ms * 1000;
    total += over;
    if (over > worst) worst = over;
    if (over > 100) over_100++;
  }
  return {(double)total / pauses, worst, 100.0 * over_100 / pauses};
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  int pauses = argc > 1 ? atoi(argv[1]) : 1000;
  if (pauses <= 0) {
    fprintf(stderr, "usage: pause_bench [PAUSES]\n");
    return 2;
  }
  double per_cv_us = 0;
  for (DWORD ms : {DWORD(1), DWORD(3)}) {
    Overshoot o = measure(ms, pauses);
    printf("Sleep(%lu): %d pauses, %.1f us longer on average, worst %lld us, %.1f%% over 100 us\n",
           (unsigned long)ms, pauses, o.mean_us, (long long)o.worst_us, o.share_over_100_us);
    per_cv_us += 9 * o.mean_us;  // a CV read pauses 9 times for 1 ms and 9 times for 3 ms
  }
  printf("pauses alone: %.3f ms per CV read against 36 ms, ratio %.3f\n", 36.0 + per_cv_us / 1000,
         (36000.0 + per_cv_us) / 36000.0);
  return 0;
}
