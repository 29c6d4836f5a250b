// The preload library on its own: this test plays the far end (it makes the
// pseudo-terminal and the state) and calls the library's ioctl, write and
// tcsetattr as a program would.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/line_harness/pty_modem_state.h"

namespace {

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef ssize_t (*write_fn)(int, const void *, size_t);
typedef int (*tcsetattr_fn)(int, int, const struct termios *);

int64_t now_us() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

// One line for the whole process: the library maps its state at its first call.
int master = -1, slave = -1, other_master = -1, other_slave = -1;
pty_modem_state *state = nullptr;
ioctl_fn lib_ioctl = nullptr;
write_fn lib_write = nullptr;
tcsetattr_fn lib_tcsetattr = nullptr;

class Preload : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (state != nullptr) return;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(openpty(&other_master, &other_slave, nullptr, nullptr, nullptr), 0);
    std::string path = testing::TempDir() + "pty_modem_preload_test." + std::to_string(getpid());
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, sizeof(pty_modem_state)), 0);
    void *map = mmap(nullptr, sizeof(pty_modem_state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    struct stat st;
    ASSERT_EQ(fstat(slave, &st), 0);
    ((pty_modem_state *)map)->slave_rdev = st.st_rdev;
    ((pty_modem_state *)map)->magic = PTY_MODEM_MAGIC;
    state = (pty_modem_state *)map;
    setenv(PTY_MODEM_ENV, path.c_str(), 1);
    void *library = dlopen(PTY_MODEM_PRELOAD, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    lib_ioctl = (ioctl_fn)dlsym(library, "ioctl");
    lib_write = (write_fn)dlsym(library, "write");
    lib_tcsetattr = (tcsetattr_fn)dlsym(library, "tcsetattr");
    ASSERT_TRUE(lib_ioctl && lib_write && lib_tcsetattr);
    int ignored;
    lib_ioctl(other_slave, TIOCMGET, &ignored);  // the first call maps the state
    unlink(path.c_str());
  }

  void SetUp() override {
    ASSERT_NE(lib_ioctl, nullptr);
    state->program_lines = 0;
    state->far_lines = 0;
    state->dsr_plan = 0;
    state->far_end_pid = 0;
  }

  // What the far end does once it has handled everything: the library's
  // samples wait for that.
  void far_end_caught_up() {
    state->events_done = state->events_claimed;
    state->bytes_done = state->bytes_stamped;
  }

  int lines() {
    far_end_caught_up();
    int value = -1;
    EXPECT_EQ(lib_ioctl(slave, TIOCMGET, &value), 0);
    return value;
  }

  const pty_modem_event &last_event() {
    return state->events[(state->events_claimed - 1) % PTY_MODEM_EVENTS];
  }
};

// The program sets DTR and RTS; the lines the receiver drives are not its own.
TEST_F(Preload, DtrAndRtsAreTheProgramsToSet) {
  struct Step {
    unsigned long request;
    int argument;
    int want;
  } steps[] = {
      {TIOCMBIS, TIOCM_DTR | TIOCM_RTS, TIOCM_DTR | TIOCM_RTS},
      {TIOCMBIC, TIOCM_RTS, TIOCM_DTR},
      {TIOCMSET, TIOCM_RTS | TIOCM_DSR | TIOCM_CTS, TIOCM_RTS},
      {TIOCMBIS, TIOCM_CD, TIOCM_RTS},
      {TIOCMSET, 0, 0},
  };
  for (const Step &step : steps) {
    int argument = step.argument;
    ASSERT_EQ(lib_ioctl(slave, step.request, &argument), 0);
    EXPECT_EQ(lines() & ~TIOCM_DSR, step.want) << "request " << std::hex << step.request;
  }
  // Every sample is an event with what the program was given.
  EXPECT_EQ(last_event().kind, (uint32_t)PTY_EVENT_SAMPLE);
  EXPECT_EQ(last_event().value, 0u);
}

TEST_F(Preload, DsrFollowsThePublishedAnswerAndItsTime) {
  struct Case {
    uint64_t plan;
    bool dsr;
  } cases[] = {
      {0, false},
      {1, true},                                            // on from time 0
      {((uint64_t)(now_us() + 10000000) << 1) | 1, false},  // not yet
      {((uint64_t)(now_us() - 1000) << 1) | 1, true},       // since a millisecond
      {((uint64_t)(now_us() - 1000) << 1), false},          // the answer is no
  };
  for (const Case &c : cases) {
    state->dsr_plan = c.plan;
    EXPECT_EQ((lines() & TIOCM_DSR) != 0, c.dsr) << "plan " << c.plan;
    EXPECT_EQ((last_event().value & TIOCM_DSR) != 0, c.dsr);
  }
  state->far_lines = TIOCM_CTS | TIOCM_CD;
  EXPECT_EQ(lines() & (TIOCM_CTS | TIOCM_CD), TIOCM_CTS | TIOCM_CD);
}

TEST_F(Preload, BytesAndSettingsChangesCarryTheirTime) {
  uint64_t stamped = state->bytes_stamped;
  int64_t before = now_us();
  ASSERT_EQ(lib_write(slave, "\x00\x1c\xb0", 3), 3);
  int64_t after = now_us();
  ASSERT_EQ(state->bytes_stamped, stamped + 3);
  for (uint64_t i = stamped; i < stamped + 3; i++) {
    EXPECT_GE(state->stamps[i], before);
    EXPECT_LE(state->stamps[i], after);
  }
  char got[3];
  EXPECT_EQ(read(master, got, sizeof got), 3);  // the bytes themselves pass unchanged
  EXPECT_EQ(memcmp(got, "\x00\x1c\xb0", 3), 0);

  termios t;
  ASSERT_EQ(tcgetattr(slave, &t), 0);
  uint64_t events = state->events_claimed;
  ASSERT_EQ(lib_tcsetattr(slave, TCSANOW, &t), 0);
  ASSERT_EQ(state->events_claimed, events + 1);
  EXPECT_EQ(last_event().kind, (uint32_t)PTY_EVENT_SETTINGS);
  EXPECT_EQ(last_event().ready, events + 1);
}

// Every other descriptor passes straight through: another pseudo-terminal (the
// console of the program under test) keeps having no modem lines.
TEST_F(Preload, OtherDescriptorsPassThrough) {
  int value = 0;
  errno = 0;
  EXPECT_EQ(lib_ioctl(other_slave, TIOCMGET, &value), -1);
  EXPECT_EQ(errno, ENOTTY);
  uint64_t stamped = state->bytes_stamped, events = state->events_claimed;
  EXPECT_EQ(lib_write(other_slave, "x", 1), 1);
  EXPECT_EQ(state->bytes_stamped, stamped);
  termios t;
  ASSERT_EQ(tcgetattr(other_slave, &t), 0);
  EXPECT_EQ(lib_tcsetattr(other_slave, TCSANOW, &t), 0);
  EXPECT_EQ(state->events_claimed, events);
  // Requests other than the modem lines reach the line itself.
  int queued = -1;
  EXPECT_EQ(lib_ioctl(slave, FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0);
}

// A far end that died must not hold the program: its first sample goes on
// within moments, not after the two seconds a live but slow far end gets.
TEST_F(Preload, AFarEndThatIsGoneIsNotWaitedFor) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  state->far_end_pid = (uint32_t)child;
  ASSERT_EQ(lib_write(slave, "\xb0", 1), 1);  // a byte the far end never takes
  int64_t start = now_us();
  int value = -1;
  EXPECT_EQ(lib_ioctl(slave, TIOCMGET, &value), 0);
  EXPECT_LT(now_us() - start, 500000);
  char got;
  EXPECT_EQ(read(master, &got, 1), 1);
}

}  // namespace
