// Low latency from the driver while a port is open: what is asked, what is
// put back on close, at exit and when a signal ends the process, and that a
// driver that refuses (a pseudo-terminal) changes nothing. Each change runs in
// a child process with a stand-in for the driver's ioctl, which reports every
// call through a pipe; the restore at exit and on signals is the real one.
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/tty_device_posix.h"
#include "tests/support/pty_pair.h"

namespace {

// One call the driver saw (or 'B': what tty_low_latency_begin returned,
// 'H': the program's own handler ran).
struct Call {
  char what;
  int fd;
  int flags;
  int baud_base;
};

int calls_pipe = -1;
int flags_read = 0;
int get_error = 0;
int set_error = 0;

void note(char what, int fd, int flags, int baud_base) {
  Call call = {what, fd, flags, baud_base};
  ssize_t ignored = write(calls_pipe, &call, sizeof call);
  (void)ignored;
}

// The driver: flags_read and a baud base of its own, or get_error/set_error.
int driver(int fd, unsigned long request, serial_struct *info) {
  if (request == TIOCGSERIAL) {
    note('G', fd, 0, 0);
    if (get_error != 0) return errno = get_error, -1;
    info->flags = flags_read;
    info->baud_base = 3000000;
    return 0;
  }
  note('S', fd, info->flags, info->baud_base);
  if (set_error != 0) return errno = set_error, -1;
  return 0;
}

void own_handler(int) {
  note('H', 0, 0, 0);
  _exit(7);
}

enum Ending { CLOSE, EXIT, SIGNAL, OWN_HANDLER_BEFORE, IGNORED_BEFORE };

struct Case {
  const char *what;
  int flags_read, get_error, set_error;
  int ports;  // opened on descriptors 41, 42, ...
  Ending ending;
  int signal_number;
  const char *calls;
  const char *status;
};

// Runs one case in a child; the calls the driver saw, as text.
std::string run_case(const Case &c, std::string *status) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    calls_pipe = fds[1];
    struct rlimit no_core = {0, 0};  // SIGQUIT leaves no core file
    setrlimit(RLIMIT_CORE, &no_core);
    flags_read = c.flags_read, get_error = c.get_error, set_error = c.set_error;
    if (c.ending == OWN_HANDLER_BEFORE) signal(c.signal_number, own_handler);
    if (c.ending == IGNORED_BEFORE) signal(c.signal_number, SIG_IGN);
    int change = -1;
    for (int i = 0; i < c.ports; i++) {
      change = tty_low_latency_begin(41 + i, driver);
      note('B', change, 0, 0);
    }
    if (c.ending == CLOSE) tty_low_latency_end(change);
    if (c.ending == CLOSE || c.ending == EXIT) exit(0);
    raise(c.signal_number);
    _exit(3);  // the signal was ignored: no restore at exit either
  }
  close(fds[1]);
  std::string text;
  Call call;
  while (read(fds[0], &call, sizeof call) == (ssize_t)sizeof call) {
    char line[64];
    if (call.what == 'S') {
      snprintf(line, sizeof line, "S%d=%#x/%d ", call.fd, call.flags, call.baud_base);
    } else if (call.what == 'G' || call.what == 'B') {
      snprintf(line, sizeof line, "%c%d ", call.what, call.fd);
    } else {
      snprintf(line, sizeof line, "%c ", call.what);
    }
    text += line;
  }
  close(fds[0]);
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  char shown[32];
  if (WIFSIGNALED(wait_status)) {
    snprintf(shown, sizeof shown, "signal %d", WTERMSIG(wait_status));
  } else {
    snprintf(shown, sizeof shown, "exit %d", WEXITSTATUS(wait_status));
  }
  *status = shown;
  return text;
}

TEST(TtyLowLatency, AskedWhileOpenAndPutBackOnEveryWayOut) {
  // The flags read keep every other flag (ASYNC_SKIP_TEST, 0x40) and the
  // baud base; ASYNC_LOW_LATENCY is 0x2000.
  const int skip = ASYNC_SKIP_TEST;
  const Case cases[] = {
      {"closed", skip, 0, 0, 1, CLOSE, 0, "G41 S41=0x2040/3000000 B0 S41=0x40/3000000 ", "exit 0"},
      {"exit", skip, 0, 0, 1, EXIT, 0, "G41 S41=0x2040/3000000 B0 S41=0x40/3000000 ", "exit 0"},
      {"SIGTERM", 0, 0, 0, 1, SIGNAL, SIGTERM, "G41 S41=0x2000/3000000 B0 S41=0/3000000 ",
       "signal 15"},
      {"SIGHUP", 0, 0, 0, 1, SIGNAL, SIGHUP, "G41 S41=0x2000/3000000 B0 S41=0/3000000 ",
       "signal 1"},
      {"SIGQUIT", 0, 0, 0, 1, SIGNAL, SIGQUIT, "G41 S41=0x2000/3000000 B0 S41=0/3000000 ",
       "signal 3"},
      {"a real-time signal", 0, 0, 0, 1, SIGNAL, SIGRTMIN + 1,
       "G41 S41=0x2000/3000000 B0 S41=0/3000000 ", nullptr},
      {"the program's handler runs after", 0, 0, 0, 1, OWN_HANDLER_BEFORE, SIGINT,
       "G41 S41=0x2000/3000000 B0 S41=0/3000000 H ", "exit 7"},
      {"an ignored signal stays ignored", 0, 0, 0, 1, IGNORED_BEFORE, SIGHUP,
       "G41 S41=0x2000/3000000 B0 ", "exit 3"},
      {"two ports", 0, 0, 0, 2, SIGNAL, SIGTERM,
       "G41 S41=0x2000/3000000 B0 G42 S42=0x2000/3000000 B1 S41=0/3000000 S42=0/3000000 ",
       "signal 15"},
      {"already low", 0x2040, 0, 0, 1, SIGNAL, SIGTERM, "G41 B-1 ", "signal 15"},
      {"no serial information (ENOTTY)", 0, ENOTTY, 0, 1, EXIT, 0, "G41 B-1 ", "exit 0"},
      {"no serial information (EINVAL)", 0, EINVAL, 0, 1, EXIT, 0, "G41 B-1 ", "exit 0"},
      {"no right to change (EPERM)", 0, 0, EPERM, 1, SIGNAL, SIGTERM, "G41 S41=0x2000/3000000 B-1 ",
       "signal 15"},
  };
  for (const Case &c : cases) {
    std::string status;
    EXPECT_EQ(run_case(c, &status), c.calls) << c.what;
    std::string want = c.status != nullptr ? c.status : "signal " + std::to_string(c.signal_number);
    EXPECT_EQ(status, want) << c.what;
  }
}

// A pseudo-terminal has no serial information: the port opens as before and
// nothing is installed to put anything back.
TEST(TtyLowLatency, PseudoTerminalOpensUnchanged) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  serial_struct info;
  EXPECT_NE(ioctl(slave, TIOCGSERIAL, &info), 0);
  close(slave);
  struct sigaction before, after;
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &before), 0);
  HANDLE port = CreateFileA(pty.slave.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(port, "x", 1, &written, nullptr));
  EXPECT_EQ(pty.receive(1), "x");
  EXPECT_TRUE(CloseHandle(port));
}

}  // namespace
