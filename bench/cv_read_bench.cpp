// Times read_cv in real time on the virtual receiver with its 38400 baud line
// model against the protocol's own minimum, and measures how much processor
// time tarvel takes while it waits at its menu.
//   cv_read_bench [READS]      (default 250)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

namespace {

// 18 pauses of 1 and 3 ms, and 36 bytes of 10 bit times at 38400 baud.
const double read_minimum_ms = 36.0 + 36 * 10 * 1000.0 / 38400;
const int idle_seconds = 10;

int bench_reads(int reads) {
  if (open_port("sim:", 38400, 8, 0, 1, 12, 12) != 0) return -1;
  reset_receiver(2000);
  double total_ms = 0, worst_ms = 0;
  int wrong = 0;
  for (int i = 0; i < reads; i++) {
    cv_selection = {1 + i % 256, 0, 0};
    int64_t start = clock_now_us();
    int value = read_cv();
    double took_ms = (clock_now_us() - start) / 1000.0;
    total_ms += took_ms;
    if (took_ms > worst_ms) worst_ms = took_ms;
    if (value != i % 256) wrong++;  // a new receiver holds CV n = n - 1
  }
  double mean_ms = total_ms / reads;
  printf("read_cv: %d reads, mean %.3f ms, worst %.3f ms\n", reads, mean_ms, worst_ms);
  printf("read_cv: minimum %.3f ms, ratio %.4f (target <= 1.02)\n", read_minimum_ms,
         mean_ms / read_minimum_ms);
  if (wrong > 0) printf("read_cv: %d reads gave a wrong value\n", wrong);
  return wrong == 0 ? 0 : -1;
}

// Processor time of a process in clock ticks (user + system).
long cpu_ticks(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE *file = fopen(path.c_str(), "r");
  if (file == nullptr) return -1;
  char text[1024] = "";
  size_t n = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[n] = '\0';
  const char *after_name = strrchr(text, ')');
  unsigned long user = 0, system = 0;
  // Fields after the name: state is the 3rd, utime the 14th, stime the 15th.
  if (after_name == nullptr ||
      sscanf(after_name + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
             &system) != 2)
    return -1;
  return (long)(user + system);
}

// Reads the child's output until the menu is there.
bool wait_for_menu(int out, int timeout_ms) {
  std::string text;
  for (int waited = 0; waited < timeout_ms; waited += 50) {
    pollfd p = {out, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      char buffer[1024];
      ssize_t got = read(out, buffer, sizeof buffer);
      if (got <= 0) return false;
      text.append(buffer, (size_t)got);
      if (text.find("Beenden") != std::string::npos) return true;
    }
  }
  return false;
}

int bench_idle(void) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    setenv("ORN_HOME", "", 1);
    unsetenv("ORN_VIRTUAL_CLOCK");
    execl(TARVEL_PATH, TARVEL_PATH, "sim:", (char *)nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  int result = -1;
  if (wait_for_menu(out[0], 20000)) {
    long before = cpu_ticks(pid);
    sleep(idle_seconds);
    long used = cpu_ticks(pid) - before;
    double share = 100.0 * used / sysconf(_SC_CLK_TCK) / idle_seconds;
    printf("tarvel at its menu: %ld ticks in %d s, %.2f%% of one core (target < 1%%)\n", used,
           idle_seconds, share);
    result = 0;
  } else {
    printf("tarvel at its menu: the menu did not appear\n");
  }
  if (write(in[1], "q", 1) != 1) kill(pid, SIGKILL);
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  close(out[0]);
  return result;
}

}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  int reads = argc > 1 ? atoi(argv[1]) : 250;
  if (reads < 1) reads = 250;
  timeBeginPeriod(1);
  // The idle measurement first: its child must not inherit our reader thread.
  int idle = bench_idle();
  int read = bench_reads(reads);
  return idle == 0 && read == 0 ? 0 : 1;
}
