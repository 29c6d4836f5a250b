// main() of the Windows test programs. The result is final once the tests
// have run and printed it; the process then ends at once. In a fresh Wine
// prefix an early test program now and then printed PASSED and never ended,
// its exit hanging until the test's timeout, which turned a pass into a
// failure; ending it here keeps that exit of Wine's out of the result.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  fflush(stdout);
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), (UINT)result);
  return result;
}
