// The preload library on its own: this test plays the far end (it makes the
// pseudo-terminal and the state) and calls the library's ioctl, write and
// tcsetattr as a program would. A late modem status is read from the
// environment as the library starts, so each such line loads a copy of its own.
// Last, the far end's byte delay, with the real far end (pty_receiver).
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/line_harness/pty_modem_state.h"
#include "tests/support/files.h"
#include "tests/support/wire_log.h"

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
std::string state_path;
ioctl_fn lib_ioctl = nullptr;
write_fn lib_write = nullptr;
tcsetattr_fn lib_tcsetattr = nullptr;

void remove_state_file() {
  unlink(state_path.c_str());
}

// A copy of the library of its own, started with these variables (the others
// of the late status unset): the calls a program makes through it.
struct Library {
  ioctl_fn ioctl = nullptr;
  write_fn write = nullptr;
  tcsetattr_fn tcsetattr = nullptr;
};

const char *const STATUS_VARIABLES[] = {PTY_STATUS_US_ENV, PTY_TICK_US_ENV, PTY_TICK_DELAY_US_ENV,
                                        PTY_JITTER_US_ENV, PTY_SEED_ENV};
typedef std::vector<std::pair<const char *, std::string>> Settings;

// line: a descriptor of the line, for the first call (which maps the state).
Library load_copy(const Settings &settings, int line) {
  static int copies = 0;
  std::string copy = testing::TempDir() + "pty_modem_preload_copy." + std::to_string(getpid()) +
                     "." + std::to_string(++copies) + ".so";
  write_text(copy, read_text(PTY_MODEM_PRELOAD));
  for (const char *name : STATUS_VARIABLES) unsetenv(name);
  for (const auto &setting : settings) setenv(setting.first, setting.second.c_str(), 1);
  Library lib;
  void *library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  unlink(copy.c_str());
  EXPECT_NE(library, nullptr) << dlerror();
  if (library == nullptr) return lib;
  lib.ioctl = (ioctl_fn)dlsym(library, "ioctl");
  lib.write = (write_fn)dlsym(library, "write");
  lib.tcsetattr = (tcsetattr_fn)dlsym(library, "tcsetattr");
  int ignored;
  lib.ioctl(line, TIOCMGET, &ignored);  // reads the settings, maps the state
  for (const char *name : STATUS_VARIABLES) unsetenv(name);
  return lib;
}

class Preload : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (state != nullptr) return;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(openpty(&other_master, &other_slave, nullptr, nullptr, nullptr), 0);
    state_path = testing::TempDir() + "pty_modem_preload_test." + std::to_string(getpid());
    const std::string &path = state_path;
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
    atexit(remove_state_file);                   // the copies map it too
  }

  void SetUp() override {
    ASSERT_NE(lib_ioctl, nullptr);
    state->program_lines = 0;
    state->far_lines = 0;
    state->dsr_plan = 0;
    state->far_end_pid = 0;
    state->byte_delay_us = 0;
    state->plans_published = 0;
    state->status_answers = 0;
    state->latest_status_of_us = 0;
  }

  // What the far end publishes as the receiver's DSR changes: plan from since_us on.
  static void publish(int64_t since_us, uint64_t plan) {
    uint64_t n = state->plans_published;
    state->history[n % PTY_MODEM_HISTORY] = {since_us, plan};
    state->plans_published = n + 1;
  }

  static uint64_t on_from(int64_t from_us) { return ((uint64_t)from_us << 1) | 1; }

  int lines_by(const Library &lib) {
    far_end_caught_up();
    int value = -1;
    EXPECT_EQ(lib.ioctl(slave, TIOCMGET, &value), 0);
    return value;
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

// ---- a late modem status ------------------------------------------------------

// Each TIOCMGET takes the round trip and shows the level at its middle.
TEST_F(Preload, AStatusRoundTripTakesItsTimeAndShowsItsMiddle) {
  const int64_t trip = 300000, margin = 75000;
  Library lib = load_copy({{PTY_STATUS_US_ENV, std::to_string(trip)}}, other_slave);
  struct Case {
    const char *what;
    int64_t change_since, on_from;  // from the call's start; the plan before is off
    bool dsr;
  } cases[] = {
      {"on before the middle", -1000000, trip / 2 - margin, true},
      {"on only after the middle", -1000000, trip / 2 + margin, false},
      {"a change in by the middle", trip / 2 - margin, 0, true},
      {"a change in only after the middle", trip / 2 + margin, 0, false},
  };
  for (const Case &c : cases) {
    state->plans_published = 0;
    int64_t start = now_us();
    publish(start - 2000000, 0);
    publish(start + c.change_since, on_from(start + c.on_from));
    int value = lines_by(lib);
    int64_t took = now_us() - start;
    EXPECT_GE(took, trip) << c.what;
    EXPECT_EQ((value & TIOCM_DSR) != 0, c.dsr) << c.what;
    EXPECT_EQ(last_event().kind, (uint32_t)PTY_EVENT_SAMPLE);
    EXPECT_GE(last_event().of_us, start + trip / 2) << c.what;
    EXPECT_LT(last_event().of_us, start + trip / 2 + margin) << c.what;
    EXPECT_GE(last_event().at_us, start + trip) << c.what;
  }
}

// Ticks every second from the state's making; a tick's status reaches the
// program the tick delay later. Now is half a second after a tick.
TEST_F(Preload, ALevelChangeShowsOnlyFromTheNextTickAndItsDelayOn) {
  const int64_t tick = 1000000;
  struct Case {
    int64_t tick_delay, change_at;  // the change from now
    int64_t shown_tick;             // the tick whose level is shown, from now
    bool dsr;
  } cases[] = {
      {200000, -600000, -500000, true},    // before the tick that has reached the program
      {200000, -400000, -500000, false},   // after it: only the next tick will show it
      {600000, -600000, -1500000, false},  // that tick has not reached the program yet
      {600000, -1600000, -1500000, true},  // the tick before it has
      {0, -499000, -500000, false},
  };
  for (const Case &c : cases) {
    Library lib = load_copy({{PTY_TICK_US_ENV, std::to_string(tick)},
                             {PTY_TICK_DELAY_US_ENV, std::to_string(c.tick_delay)}},
                            other_slave);
    SetUp();
    int64_t now = now_us();
    state->made_us = now - 500000 - 3 * tick;
    publish(now - 10 * tick, 0);
    publish(now + c.change_at, 1);
    int value = lines_by(lib);
    EXPECT_EQ((value & TIOCM_DSR) != 0, c.dsr) << c.tick_delay << " " << c.change_at;
    EXPECT_EQ(last_event().of_us, now + c.shown_tick) << c.tick_delay << " " << c.change_at;
    EXPECT_LT(now_us() - now, 100000);  // the answer waits for nothing
  }
}

// The jitter a first answer shows: the window of it from the call's two sides.
std::pair<int64_t, int64_t> first_jitter(const Library &lib) {
  state->status_answers = 0;
  state->latest_status_of_us = 0;
  state->events_done = state->events_claimed;
  int64_t before = now_us();
  int value;
  EXPECT_EQ(lib.ioctl(slave, TIOCMGET, &value), 0);
  int64_t after = now_us();
  int64_t of = state->events[(state->events_claimed - 1) % PTY_MODEM_EVENTS].of_us;
  return {before - of, after - of};
}

// Up to the jitter later, by a seed's draws: the same in every run with one
// seed (1 when none is given), others with another; never an older moment than
// the answer before.
TEST_F(Preload, JitterIsBoundedFollowsTheSeedAndNeverGoesBack) {
  const int64_t jitter = 200000;
  std::vector<std::pair<int64_t, int64_t>> firsts;
  const char *const seeds[] = {"1", "1", nullptr, "2", "3", "4"};
  for (const char *seed : seeds) {
    Settings settings = {{PTY_JITTER_US_ENV, std::to_string(jitter)}};
    if (seed != nullptr) settings.push_back({PTY_SEED_ENV, seed});
    Library lib = load_copy(settings, other_slave);
    std::pair<int64_t, int64_t> window = first_jitter(lib);
    EXPECT_GE(window.second, 0);
    EXPECT_LE(window.first, jitter);
    firsts.push_back(window);
    int64_t previous = 0;
    for (int i = 0; i < 20; i++) {
      int64_t before = now_us();
      lines_by(lib);
      EXPECT_GE(last_event().of_us, previous);
      EXPECT_GE(last_event().of_us, before - jitter);
      previous = last_event().of_us;
    }
  }
  auto same = [](std::pair<int64_t, int64_t> a, std::pair<int64_t, int64_t> b) {
    return a.first <= b.second && b.first <= a.second;  // the windows overlap
  };
  EXPECT_TRUE(same(firsts[0], firsts[1]));  // seed 1 twice
  EXPECT_TRUE(same(firsts[0], firsts[2]));  // no seed: seed 1
  int differ = 0;
  for (size_t i = 3; i < firsts.size(); i++) differ += same(firsts[0], firsts[i]) ? 0 : 1;
  EXPECT_GE(differ, 2);
}

// With a byte delay a sample waits only for the bytes the receiver has by the
// moment it shows; one still on its way does not hold it.
TEST_F(Preload, ASampleWaitsOnlyForTheBytesInByItsMoment) {
  struct Case {
    int64_t byte_delay;
    bool waits;
  } cases[] = {{10000000, false}, {1, true}};
  Library lib = load_copy({}, other_slave);  // one that has never seen a far end go
  for (const Case &c : cases) {
    far_end_caught_up();
    state->byte_delay_us = c.byte_delay;
    ASSERT_EQ(lib.write(slave, "\x55", 1), 1);
    uint64_t written = state->bytes_stamped;
    usleep(1000);  // the byte of a delay of 1 us is in by the sample
    std::thread far_end([] {
      usleep(100000);
      __atomic_store_n(&state->bytes_done, state->bytes_stamped, __ATOMIC_RELEASE);
    });
    int64_t start = now_us();
    int value;
    EXPECT_EQ(lib.ioctl(slave, TIOCMGET, &value), 0);
    int64_t took = now_us() - start;
    bool taken_in = __atomic_load_n(&state->bytes_done, __ATOMIC_ACQUIRE) == written;
    far_end.join();
    EXPECT_EQ(took >= 100000, c.waits) << c.byte_delay << ": took " << took;
    EXPECT_EQ(taken_in, c.waits) << c.byte_delay;
    char got;
    EXPECT_EQ(read(master, &got, 1), 1);
  }
}

// ---- the far end's byte delay ---------------------------------------------------

struct FarEndRun {
  pid_t pid = -1;
  std::string slave;
};

FarEndRun start_far_end(const std::string &dir, int64_t byte_delay) {
  FarEndRun run;
  int out[2];
  if (pipe(out) != 0) return run;
  run.pid = fork();
  if (run.pid == 0) {
    dup2(out[1], 1);
    std::string delay = "--byte-delay=" + std::to_string(byte_delay);
    std::string receiver = "sim:" + dir + "/rx";
    execl(PTY_RECEIVER, PTY_RECEIVER, delay.c_str(), (dir + "/line.state").c_str(),
          receiver.c_str(), (char *)nullptr);
    _exit(127);
  }
  close(out[1]);
  char path[256] = {};
  FILE *from = fdopen(out[0], "r");
  if (from != nullptr && fgets(path, sizeof path, from) != nullptr) {
    run.slave.assign(path, strcspn(path, "\n"));
  }
  if (from != nullptr) fclose(from);
  return run;
}

// Each byte reaches the receiver its delay after it left the program, in order;
// a line change keeps its own time, so one made after a byte may come first.
TEST(FarEnd, ABytesDelayIsKeptExactlyAndInOrder) {
  for (int64_t delay : {0, 3000, 50000}) {
    std::string dir = make_temp_dir("pty_byte_delay");
    FarEndRun far = start_far_end(dir, delay);
    ASSERT_EQ(far.slave.compare(0, 9, "/dev/pts/"), 0) << far.slave;
    setenv(PTY_MODEM_ENV, (dir + "/line.state").c_str(), 1);
    int line = open(far.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(line, 0);
    Library lib = load_copy({}, line);
    int dtr = TIOCM_DTR;
    ASSERT_EQ(lib.ioctl(line, TIOCMBIS, &dtr), 0);
    ASSERT_EQ(lib.write(line, "\x41\xf3", 2), 2);
    usleep(10000);
    ASSERT_EQ(lib.ioctl(line, TIOCMBIC, &dtr), 0);
    usleep(delay + 100000);
    kill(far.pid, SIGTERM);
    int status = -1;
    ASSERT_EQ(waitpid(far.pid, &status, 0), far.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(line);

    std::vector<WireEvent> events = read_wire_log(dir + "/rx/wire.log");
    std::vector<WireEvent> tx = only(events, "TX"), lines = only(events, "DTR");
    ASSERT_EQ(sent_bytes(events), (std::vector<int>{0x41, 0xf3}));
    ASSERT_EQ(lines.size(), 2u);
    // The stamps and the line change's time, from the state the far end made.
    int map_fd = open((dir + "/line.state").c_str(), O_RDONLY);
    ASSERT_GE(map_fd, 0);
    void *map = mmap(nullptr, sizeof(pty_modem_state), PROT_READ, MAP_SHARED, map_fd, 0);
    close(map_fd);
    ASSERT_NE(map, MAP_FAILED);
    const pty_modem_state *far_state = (const pty_modem_state *)map;
    int64_t left = far_state->stamps[0], raised = 0;
    for (int i = 0; raised == 0 && i < 4; i++) {
      if (far_state->events[i].kind == PTY_EVENT_LINES) raised = far_state->events[i].at_us;
    }
    munmap(map, sizeof(pty_modem_state));
    EXPECT_EQ(tx[0].us - lines[0].us, left - raised + delay) << delay;
    EXPECT_EQ(tx[1].us, tx[0].us);
    bool dropped_first = lines[1].us < tx[0].us;
    EXPECT_EQ(dropped_first, delay > 10000) << delay;
    unsetenv(PTY_MODEM_ENV);
    remove_tree(dir);
  }
}

}  // namespace
