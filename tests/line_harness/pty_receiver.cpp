// The far end of a pseudo-terminal with modem lines: the virtual receiver
// served over a real line, so that the port code users run on hardware (the
// Linux tty path, Wine's serial calls) can be tested end to end.
//
//   pty_receiver [--byte-delay US] STATE_FILE sim:[DIR][?OPTION...] [LINK]
//
// Makes a pseudo-terminal and the state file for the preload library
// (pty_modem_preload.so), links LINK to the slave if given (a Wine prefix's
// dosdevices/com7), prints the slave's path on a line and serves until SIGTERM,
// SIGINT or SIGHUP. The receiver gets every byte read from the master with the
// time it left the program, DTR/RTS and the line settings (the master's termios)
// at the time the program changed them, and each DSR sample the program took:
// its DIR/wire.log is the one a program on "sim:DIR" leaves. The receiver has no
// line time here (a pseudo-terminal has none), as with the option "instant".
//
// --byte-delay US gives each byte to the receiver US microseconds after it left
// the program, in order, as on a USB adapter whose write completes when it has
// taken the byte: line changes and samples keep their own time, so a line change
// made after a byte may reach the receiver before it. A sample the preload
// library answers late (its ORN_PTY_* variables) shows the level of an earlier
// moment: it is checked against the plan the receiver had published for that
// moment, and the receiver, sampled when the answer was given, against the plan
// for then.
//
// Exit: 0 served; 1 usage or no pseudo-terminal; 2 the receiver did not open;
// 3 a sample the program was given disagreed with the receiver.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "tests/line_harness/pty_modem_state.h"
#include "virtual_receiver/virtual_receiver.h"

namespace {

volatile sig_atomic_t stopping = 0;
int signal_wake_fd = -1;

struct FarEnd {
  int master = -1;
  int slave = -1;  // held open, so that the master never sees a hang-up
  int wake = -1;
  pty_modem_state *state = nullptr;
  SerialDevice *device = nullptr;
  VirtualReceiver *vr = nullptr;
  std::deque<uint8_t> unread;  // read from the master, not yet given
  uint64_t next_event = 0;
  int64_t waiting_since_us = 0;  // for data or a stamp; 0: not waiting
  int64_t byte_delay_us = 0;
  int64_t due_us = 0;  // the next byte is held back until then; 0: none is
  // The plans published, with the time each took effect: (since, plan).
  std::deque<std::pair<int64_t, uint64_t>> history;
  long bytes = 0, unstamped = 0, lost = 0, samples = 0, disagreements = 0;
};

// How long a byte waits for its stamp, and a stamp for its byte, before the
// far end gives up on the pairing (a write it cannot see, a flushed byte).
const int64_t PAIRING_PATIENCE_US = 200000;

int64_t real_now_us() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

void on_signal(int) {
  stopping = 1;
  if (signal_wake_fd >= 0) {
    ssize_t ignored = write(signal_wake_fd, "!", 1);
    (void)ignored;
  }
}

// ---- the receiver's side ----------------------------------------------------

void advance_to(int64_t at_us) {
  if (at_us > clock_now_us()) clock_sleep_until_us(at_us);
}

DWORD baud_of(speed_t speed) {
  static const struct {
    speed_t speed;
    DWORD baud;
  } table[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
               {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
               {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
  for (const auto &row : table) {
    if (row.speed == speed) return row.baud;
  }
  return 300;  // anything else is no setting the receiver understands
}

DCB dcb_of(const termios &t, uint32_t lines) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud_of(cfgetospeed(&t));
  static const BYTE sizes[] = {5, 6, 7, 8};
  dcb.ByteSize = sizes[(t.c_cflag & CSIZE) == CS5   ? 0
                       : (t.c_cflag & CSIZE) == CS6 ? 1
                       : (t.c_cflag & CSIZE) == CS7 ? 2
                                                    : 3];
  dcb.Parity = NOPARITY;
  if (t.c_cflag & PARENB) {
    bool odd = (t.c_cflag & PARODD) != 0;
    dcb.Parity =
        (t.c_cflag & CMSPAR) ? (odd ? MARKPARITY : SPACEPARITY) : (odd ? ODDPARITY : EVENPARITY);
  }
  dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  return dcb;
}

// The master reports the slave's settings: what the program set.
void apply_line(FarEnd &far, uint32_t lines) {
  termios t;
  if (tcgetattr(far.master, &t) != 0) return;
  far.device->apply(dcb_of(t, lines));
}

// Enough for a sample's look back (milliseconds) however busy the line.
const size_t HISTORY_KEPT = 100000;

// Into the history, and into the shared one that a late answer reads.
void record_plan(FarEnd &far, uint64_t plan) {
  int64_t since_us = clock_now_us();
  far.history.emplace_back(since_us, plan);
  if (far.history.size() > HISTORY_KEPT) far.history.pop_front();
  pty_modem_state *s = far.state;
  uint64_t n = __atomic_load_n(&s->plans_published, __ATOMIC_RELAXED);
  pty_modem_plan *entry = &s->history[n % PTY_MODEM_HISTORY];
  __atomic_store_n(&entry->since_us, since_us, __ATOMIC_RELAXED);
  __atomic_store_n(&entry->plan, plan, __ATOMIC_RELAXED);
  __atomic_store_n(&s->plans_published, n + 1, __ATOMIC_RELEASE);
}

void publish_dsr(FarEnd &far) {
  int64_t from_us = 0;
  bool level = vr_dsr_outlook(far.vr, &from_us);
  uint64_t plan = ((uint64_t)(from_us < 0 ? 0 : from_us) << 1) | (level ? 1 : 0);
  if (far.history.empty() || far.history.back().second != plan) record_plan(far, plan);
  __atomic_store_n(&far.state->dsr_plan, plan, __ATOMIC_RELEASE);
}

// DSR at at_us by the plans published: the latest in force then (off before the first).
bool planned_level(const FarEnd &far, int64_t at_us) {
  for (auto entry = far.history.rbegin(); entry != far.history.rend(); ++entry) {
    if (entry->first <= at_us) {
      return (entry->second & 1) != 0 && at_us >= (int64_t)(entry->second >> 1);
    }
  }
  return false;
}

void give_byte(FarEnd &far, int64_t at_us, bool stamped) {
  advance_to(at_us);
  BYTE byte = far.unread.front();
  far.unread.pop_front();
  DWORD written = 0;
  far.device->write(&byte, 1, &written);
  ++far.bytes;
  publish_dsr(far);
  if (stamped) __atomic_fetch_add(&far.state->bytes_done, 1, __ATOMIC_ACQ_REL);
}

void disagree(FarEnd &far) {
  ++far.disagreements;
}

// A late answer: the program's level against the plan for the moment it shows,
// and the receiver now against the plan for now.
void check_late_sample(FarEnd &far, const pty_modem_event &event, bool given, bool driven) {
  bool then = planned_level(far, event.of_us);
  if (given != then) {
    disagree(far);
    fprintf(stderr,
            "pty_receiver: the program read DSR %d where the receiver drove %d %lld us "
            "before the answer\n",
            given ? 1 : 0, then ? 1 : 0, (long long)(event.at_us - event.of_us));
  }
  bool now = planned_level(far, event.at_us);
  if (driven != now) {
    disagree(far);
    fprintf(stderr, "pty_receiver: the receiver drives DSR %d where its plan says %d\n",
            driven ? 1 : 0, now ? 1 : 0);
  }
}

void give_sample(FarEnd &far, const pty_modem_event &event) {
  DWORD status = 0;
  far.device->modem_status(&status);
  ++far.samples;
  bool given = (event.value & TIOCM_DSR) != 0;
  bool driven = (status & MS_DSR_ON) != 0;
  if (event.of_us != event.at_us) {
    check_late_sample(far, event, given, driven);
  } else if (given != driven) {
    disagree(far);
    fprintf(stderr, "pty_receiver: the program read DSR %d where the receiver drives %d\n",
            given ? 1 : 0, driven ? 1 : 0);
  }
}

void give_event(FarEnd &far, const pty_modem_event &event) {
  advance_to(event.at_us);
  if (event.kind == PTY_EVENT_LINES || event.kind == PTY_EVENT_SETTINGS) {
    apply_line(far, __atomic_load_n(&far.state->program_lines, __ATOMIC_ACQUIRE));
  } else if (event.kind == PTY_EVENT_SAMPLE) {
    give_sample(far, event);
  }
  ++far.next_event;
  publish_dsr(far);
  __atomic_store_n(&far.state->events_done, far.next_event, __ATOMIC_RELEASE);
}

// ---- pairing bytes with their stamps, in time order -------------------------

bool patience_over(FarEnd &far) {
  int64_t now = real_now_us();
  if (far.waiting_since_us == 0) far.waiting_since_us = now;
  return now - far.waiting_since_us > PAIRING_PATIENCE_US;
}

// A byte waits for its time when no event comes before it: a line change may
// still come first. far.due_us is then the time it is due.
bool held_back(FarEnd &far, bool only_a_byte_waits, int64_t byte_at) {
  if (far.byte_delay_us == 0 || !only_a_byte_waits || byte_at <= real_now_us()) return false;
  far.waiting_since_us = 0;
  far.due_us = byte_at;
  return true;
}

// Gives the receiver everything that can be given in time order: a byte at its
// stamp and the byte delay, once that time has come (a line change may still
// come before it). Returns true while something waits for its other half (data
// for a stamp or a stamp for data); far.due_us is the time a held byte is due.
bool serve(FarEnd &far) {
  pty_modem_state *s = far.state;
  far.due_us = 0;
  for (;;) {
    uint64_t done = __atomic_load_n(&s->bytes_done, __ATOMIC_ACQUIRE);
    uint64_t stamped = __atomic_load_n(&s->bytes_stamped, __ATOMIC_ACQUIRE);
    bool stamp_waiting = done < stamped;
    int64_t stamp_at =
        stamp_waiting ? s->stamps[done % PTY_MODEM_STAMPS] + far.byte_delay_us : INT64_MAX;
    const pty_modem_event &event = s->events[far.next_event % PTY_MODEM_EVENTS];
    bool event_ready = __atomic_load_n(&event.ready, __ATOMIC_ACQUIRE) == far.next_event + 1;
    int64_t event_at = event_ready ? event.at_us : INT64_MAX;
    if (held_back(far, stamp_waiting && !event_ready, stamp_at)) return false;
    if (stamp_waiting && stamp_at <= event_at) {
      if (!far.unread.empty()) {
        give_byte(far, stamp_at, true);
      } else if (patience_over(far)) {
        ++far.lost;  // written, but it never came through: flushed
        __atomic_fetch_add(&s->bytes_done, 1, __ATOMIC_ACQ_REL);
      } else {
        return true;
      }
    } else if (event_ready) {
      give_event(far, event);
    } else if (!far.unread.empty()) {
      if (!patience_over(far)) return true;
      ++far.unstamped;  // a write the library did not see: its time is now
      give_byte(far, real_now_us(), false);
    } else {
      far.waiting_since_us = 0;
      return false;
    }
    far.waiting_since_us = 0;
  }
}

void read_master(FarEnd &far) {
  uint8_t buffer[4096];
  for (;;) {
    ssize_t got = read(far.master, buffer, sizeof buffer);
    if (got <= 0) return;  // EAGAIN, or EIO while no program holds the slave
    far.unread.insert(far.unread.end(), buffer, buffer + got);
  }
}

void drain(int fd) {
  char buffer[256];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

// A byte's stamp follows it within microseconds, but nothing wakes the far end
// for it: it looks again at once for this long before sleeping a millisecond,
// so that the program's next sample need not wait for it.
const int64_t QUICK_LOOK_US = 200;

// While something waits for its other half, serve() keeps the time it began
// waiting in far.waiting_since_us.
// A byte held back is looked at again when it is due.
int poll_timeout_ms(const FarEnd &far, bool waiting) {
  if (waiting) return real_now_us() - far.waiting_since_us < QUICK_LOOK_US ? 0 : 1;
  if (far.due_us == 0) return 100;
  int64_t left_us = far.due_us - real_now_us();
  return left_us <= 0 ? 0 : (int)((left_us + 999) / 1000);
}

void run(FarEnd &far) {
  pollfd fds[2] = {{far.master, POLLIN, 0}, {far.wake, POLLIN, 0}};
  bool waiting = false;
  while (!stopping) {
    // The far end holds the slave open, so the master never polls as hung up.
    int timeout_ms = poll_timeout_ms(far, waiting);
    if (timeout_ms == 0) sched_yield();
    int got = poll(fds, 2, timeout_ms);
    if (got < 0 && errno != EINTR) break;
    drain(far.wake);
    read_master(far);
    waiting = serve(far);
  }
  // The program has ended: take in what it left behind, the bytes held back too.
  int64_t give_up_us = real_now_us() + far.byte_delay_us + 200000;
  while (real_now_us() < give_up_us) {
    read_master(far);
    if (!serve(far) && far.due_us == 0) break;
    usleep(2000);
  }
}

// ---- setting up -------------------------------------------------------------

int open_pty(FarEnd &far, std::string *slave_path) {
  far.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (far.master < 0 || grantpt(far.master) != 0 || unlockpt(far.master) != 0) return -1;
  const char *name = ptsname(far.master);
  if (name == nullptr) return -1;
  *slave_path = name;
  far.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (far.slave < 0) return -1;
  termios t;
  if (tcgetattr(far.slave, &t) != 0) return -1;
  cfmakeraw(&t);  // nothing translated before the program sets the line up
  if (tcsetattr(far.slave, TCSANOW, &t) != 0) return -1;
  return fcntl(far.master, F_SETFL, O_NONBLOCK);
}

int make_state(FarEnd &far, const char *path, int64_t byte_delay_us) {
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat slave;
  void *map = MAP_FAILED;
  if (ftruncate(fd, sizeof(pty_modem_state)) == 0 && fstat(far.slave, &slave) == 0) {
    map = mmap(nullptr, sizeof(pty_modem_state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  close(fd);
  if (map == MAP_FAILED) return -1;
  far.state = (pty_modem_state *)map;
  far.state->slave_rdev = slave.st_rdev;
  far.state->far_end_pid = (uint32_t)getpid();
  far.state->made_us = real_now_us();
  far.state->byte_delay_us = byte_delay_us;
  far.byte_delay_us = byte_delay_us;
  __atomic_store_n(&far.state->magic, PTY_MODEM_MAGIC, __ATOMIC_RELEASE);
  std::string wake = std::string(path) + PTY_MODEM_WAKE_SUFFIX;
  unlink(wake.c_str());
  if (mkfifo(wake.c_str(), 0600) != 0) return -1;
  // Read and write: the FIFO never reads as ended, whoever closes it.
  far.wake = open(wake.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  signal_wake_fd = far.wake;
  return far.wake < 0 ? -1 : 0;
}

// The receiver has no line time on a pseudo-terminal.
std::string instant_name(const char *name) {
  std::string text = name;
  return text + (text.find('?') == std::string::npos ? "?instant" : ",instant");
}

int open_receiver(FarEnd &far, const char *name) {
  clock_use_virtual(true);  // the receiver's time is the time each event happened
  advance_to(real_now_us());
  DWORD error = 0;
  far.device = virtual_receiver_open_device(instant_name(name).c_str(), &error);
  if (far.device == nullptr) {
    fprintf(stderr, "pty_receiver: %s does not open (Win32 error %lu)\n", name,
            (unsigned long)error);
    return -1;
  }
  far.vr = virtual_receiver_last();
  publish_dsr(far);
  return 0;
}

int link_slave(const char *link, const std::string &slave) {
  unlink(link);
  return symlink(slave.c_str(), link);
}

void watch_signals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// "--byte-delay US" or "--byte-delay=US" first, if given: the arguments after
// it in *argc/*argv. US: up to nine digits. 0, or -1 for a bad one.
int take_byte_delay(int *argc, char ***argv, int64_t *delay_us) {
  *delay_us = 0;
  if (*argc < 2 || strncmp((*argv)[1], "--byte-delay", 12) != 0) return 0;
  const char *text = (*argv)[1] + 12;
  int used = 1;
  if (*text == '=') {
    ++text;
  } else if (*text == 0 && *argc > 2) {
    text = (*argv)[2];
    used = 2;
  } else {
    return -1;
  }
  size_t length = strlen(text);
  if (length == 0 || length > 9 || strspn(text, "0123456789") != length) return -1;
  *delay_us = atoll(text);
  *argc -= used;
  *argv += used;
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int64_t byte_delay_us = 0;
  if (take_byte_delay(&argc, &argv, &byte_delay_us) != 0 || argc < 3 || argc > 4 ||
      strncmp(argv[2], "sim:", 4) != 0) {
    fprintf(stderr,
            "Usage: pty_receiver [--byte-delay US] STATE_FILE sim:[DIR][?OPTION...] [LINK]\n");
    return 1;
  }
  FarEnd far;
  std::string slave;
  watch_signals();
  if (open_pty(far, &slave) != 0) {
    fprintf(stderr, "pty_receiver: no pseudo-terminal: %s\n", strerror(errno));
    return 1;
  }
  std::string wake = std::string(argv[1]) + PTY_MODEM_WAKE_SUFFIX;
  if (make_state(far, argv[1], byte_delay_us) != 0) {
    fprintf(stderr, "pty_receiver: %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  if (open_receiver(far, argv[2]) != 0) {
    unlink(argv[1]);
    unlink(wake.c_str());
    return 2;
  }
  if (argc == 4 && link_slave(argv[3], slave) != 0) {
    fprintf(stderr, "pty_receiver: %s: %s\n", argv[3], strerror(errno));
    return 1;
  }
  printf("%s\n", slave.c_str());
  fflush(stdout);
  run(far);
  delete far.device;  // closes the receiver's files
  unlink(wake.c_str());
  fprintf(stderr,
          "pty_receiver: %ld bytes (%ld without a stamp, %ld flushed), %ld samples, "
          "%ld disagreed; the samples waited %llu us for the far end\n",
          far.bytes, far.unstamped, far.lost, far.samples, far.disagreements,
          (unsigned long long)__atomic_load_n(&far.state->sample_wait_us, __ATOMIC_ACQUIRE));
  return far.disagreements == 0 ? 0 : 3;
}
