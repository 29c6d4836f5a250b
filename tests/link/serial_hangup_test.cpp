// The port layer when the other side goes away: the reader must neither spin
// nor hold up the main thread's writes, and an exit while bytes pour in must
// end cleanly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include "tests/link/link_test_support.h"

namespace {

int64_t process_cpu_us(void) {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return (int64_t)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
         usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

// Runs in a child process: opens the port while the parent pours bytes into
// it, and exits while the reader is busy counting them.
void exit_during_traffic(const std::string &slave, int master) {
  close(master);
  if (open_port(slave.c_str(), 38400, 8, 0, 1, 12, 12) != 0) _exit(3);
  usleep(30000);
  exit(0);
}

TEST(SerialPortExit, EndsCleanlyWhileBytesArrive) {
  clock_use_virtual(false);
  for (int round = 0; round < 30; round++) {
    PtyPair pty;
    ASSERT_GE(pty.master, 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) exit_during_traffic(pty.slave, pty.master);
    fcntl(pty.master, F_SETFL, O_NONBLOCK);
    unsigned char burst[64];
    for (unsigned i = 0; i < sizeof burst; i++) burst[i] = (unsigned char)i;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (write(pty.master, burst, sizeof burst) < 0) usleep(200);
      usleep(300);
      char drain[256];
      while (read(pty.master, drain, sizeof drain) > 0) {
      }
    }
    pty.close_master();
    ASSERT_TRUE(WIFEXITED(status)) << "round " << round << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "round " << round;
  }
}

// Last in this file: it opens the port in this process for good.
TEST(SerialPortHangup, ReaderIdlesAndWritesGoOnWhenTheOtherSideCloses) {
  PtyPair pty;
  ASSERT_GE(pty.master, 0);
  ASSERT_EQ(open_port(pty.slave.c_str(), 38400, 8, 0, 1, 12, 12), 0);
  unsigned char hello = 0x41;
  ASSERT_TRUE(write_all(pty.master, &hello, 1));
  ASSERT_TRUE(wait_for_count(1, 5000));

  pty.close_master();
  usleep(200000);  // let the reader find the line dead
  int64_t cpu_before = process_cpu_us();
  usleep(1000000);
  int64_t cpu_used = process_cpu_us() - cpu_before;
  EXPECT_LT(cpu_used, 30000) << "the reader spins on a dead line";

  // Detached: should write_byte hang, the test fails instead of hanging too.
  static std::atomic<int> writes_done{0};
  std::thread([] {
    for (int i = 0; i < 8; i++) write_byte(0x55);
    writes_done = 1;
  }).detach();
  for (int waited = 0; waited < 5000 && writes_done == 0; waited += 10) usleep(10000);
  EXPECT_EQ(writes_done, 1) << "write_byte hangs on a dead line";
  EXPECT_EQ(counted_bytes(), 1u);
}

}  // namespace
