/* A preload library (LD_PRELOAD) that gives one pseudo-terminal modem lines.
 *
 * A pseudo-terminal has no modem lines: TIOCMGET and friends fail there, so a
 * program that reads its answers from DSR cannot be run over one. With
 * ORN_PTY_MODEM naming the state file of a far end (pty_receiver), this library
 * answers TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC for that far end's slave
 * from the shared state, stamps every byte written to the slave with its time,
 * and reports settings changes and DSR samples as events. Every other
 * descriptor and request passes straight through. Wine reaches the line
 * through the same C library calls, so this serves the Windows build as well.
 *
 * The modem status can be answered as a USB serial adapter answers it, set by
 * ORN_PTY_STATUS_US, ORN_PTY_TICK_US, ORN_PTY_TICK_DELAY_US, ORN_PTY_JITTER_US
 * and ORN_PTY_SEED (microseconds; absent, 0 or not a number: as on an ideal
 * line). A TIOCMGET that starts at t then takes STATUS_US and gives the DSR
 * level of one moment: the middle of its round trip, m = t + STATUS_US / 2,
 * less TICK_DELAY_US and a jitter j in [0, JITTER_US] drawn for each answer
 * (the same draws in every run with one seed); with TICK_US, the latest tick
 * (every TICK_US since the far end made the state) at or before that; and
 * never a moment before the one the previous answer showed.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "tests/line_harness/pty_modem_state.h"

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef ssize_t (*write_fn)(int, const void *, size_t);
typedef int (*tcsetattr_fn)(int, int, const struct termios *);

static pthread_once_t once = PTHREAD_ONCE_INIT;
static ioctl_fn real_ioctl;
static write_fn real_write;
static tcsetattr_fn real_tcsetattr;
static struct pty_modem_state *state;
static int wake_fd = -1;
static int far_end_gone = 0;

/* How an adapter answers the modem status; all 0 on an ideal line. */
struct status_path {
  int64_t round_trip_us;
  int64_t tick_us;
  int64_t tick_delay_us;
  int64_t jitter_us;
  uint64_t seed;
};
static struct status_path path_of_status;

/* How long a call waits for the far end before it goes on without it: a far
 * end that died must not hang the program. */
static const int64_t FAR_END_PATIENCE_US = 2000000;

/* A count of microseconds from the environment: digits only, else 0. */
static int64_t env_us(const char *name, int64_t otherwise) {
  const char *text = getenv(name);
  if (text == NULL || *text == 0 || strlen(text) > 12) return otherwise;
  int64_t value = 0;
  for (; *text; text++) {
    if (*text < '0' || *text > '9') return otherwise;
    value = value * 10 + (*text - '0');
  }
  return value;
}

static void read_status_path(void) {
  path_of_status.round_trip_us = env_us(PTY_STATUS_US_ENV, 0);
  path_of_status.tick_us = env_us(PTY_TICK_US_ENV, 0);
  path_of_status.tick_delay_us = env_us(PTY_TICK_DELAY_US_ENV, 0);
  path_of_status.jitter_us = env_us(PTY_JITTER_US_ENV, 0);
  path_of_status.seed = (uint64_t)env_us(PTY_SEED_ENV, 1);
}

static void set_up(void) {
  read_status_path();
  real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  real_write = (write_fn)dlsym(RTLD_NEXT, "write");
  real_tcsetattr = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr");
  const char *path = getenv(PTY_MODEM_ENV);
  if (path == NULL || *path == 0) return;
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  void *map = mmap(NULL, sizeof *state, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return;
  struct pty_modem_state *mapped = map;
  if (__atomic_load_n(&mapped->magic, __ATOMIC_ACQUIRE) != PTY_MODEM_MAGIC) {
    munmap(map, sizeof *state);
    return;
  }
  char wake_path[4096];
  if (strlen(path) + sizeof PTY_MODEM_WAKE_SUFFIX <= sizeof wake_path) {
    strcpy(wake_path, path);
    strcat(wake_path, PTY_MODEM_WAKE_SUFFIX);
    wake_fd = open(wake_path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  }
  state = mapped;
}

static int64_t now_us(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

/* Yields first, then sleeps a little: the far end usually needs microseconds.
 * Now and then it checks that the far end is still there: a program whose
 * far end was killed goes on without it at once, not after every patience. */
static void pause_a_little(int round) {
  if (round < 50) {
    sched_yield();
  } else {
    struct timespec pause = {0, 20000};
    nanosleep(&pause, NULL);
  }
  pid_t far_end = (pid_t)__atomic_load_n(&state->far_end_pid, __ATOMIC_ACQUIRE);
  if (round % 64 == 63 && far_end > 0 && kill(far_end, 0) != 0 && errno == ESRCH) {
    __atomic_store_n(&far_end_gone, 1, __ATOMIC_RELEASE);
  }
}

static int waiting_is_over(int64_t give_up_us) {
  return __atomic_load_n(&far_end_gone, __ATOMIC_ACQUIRE) || now_us() > give_up_us;
}

static int is_line(int fd) {
  if (state == NULL) return 0;
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == state->slave_rdev;
}

static void wake_far_end(void) {
  if (wake_fd >= 0) {
    ssize_t ignored = real_write(wake_fd, "!", 1);
    (void)ignored; /* a full FIFO already wakes it */
  }
}

/* A sample does not wake the far end: waking another process costs the
 * program time a real line does not, and the far end takes the sample in with
 * the next byte or event (every sample first waits for all before it). */
static void add_event(uint32_t kind, uint32_t value, int64_t at_us, int64_t of_us) {
  uint64_t n = __atomic_fetch_add(&state->events_claimed, 1, __ATOMIC_ACQ_REL);
  int64_t give_up = now_us() + FAR_END_PATIENCE_US;
  for (int round = 0;
       n - __atomic_load_n(&state->events_done, __ATOMIC_ACQUIRE) >= PTY_MODEM_EVENTS; round++) {
    if (waiting_is_over(give_up)) return; /* the far end is gone: the event is lost */
    if (round == 0) wake_far_end();
    pause_a_little(round);
  }
  struct pty_modem_event *event = &state->events[n % PTY_MODEM_EVENTS];
  event->at_us = at_us;
  event->of_us = of_us;
  event->kind = kind;
  event->value = value;
  __atomic_store_n(&event->ready, n + 1, __ATOMIC_RELEASE);
  if (kind != PTY_EVENT_SAMPLE) wake_far_end();
}

static void stamp_bytes(size_t count, int64_t at_us) {
  for (size_t i = 0; i < count; i++) {
    uint64_t n = __atomic_load_n(&state->bytes_stamped, __ATOMIC_RELAXED);
    int64_t give_up = at_us + FAR_END_PATIENCE_US;
    for (int round = 0;
         n - __atomic_load_n(&state->bytes_done, __ATOMIC_ACQUIRE) >= PTY_MODEM_STAMPS; round++) {
      if (waiting_is_over(give_up)) break;
      pause_a_little(round);
    }
    state->stamps[n % PTY_MODEM_STAMPS] = at_us;
    __atomic_store_n(&state->bytes_stamped, n + 1, __ATOMIC_RELEASE);
  }
}

/* Waits until the far end has given the receiver the first `bytes` bytes and
 * the first `events` events, however busy the machine is. */
static void wait_for_far_end_to(uint64_t bytes, uint64_t events) {
  int64_t start = now_us();
  for (int round = 0; __atomic_load_n(&state->bytes_done, __ATOMIC_ACQUIRE) < bytes ||
                      __atomic_load_n(&state->events_done, __ATOMIC_ACQUIRE) < events;
       round++) {
    if (waiting_is_over(start + FAR_END_PATIENCE_US)) break;
    if (round == 0) wake_far_end();
    pause_a_little(round);
  }
  /* The harness's own cost, which a real line does not have: reported. */
  __atomic_fetch_add(&state->sample_wait_us, (uint64_t)(now_us() - start), __ATOMIC_RELAXED);
}

/* A sample must see what the receiver made of every byte and line change
 * before it, as on a real line. */
static void wait_for_far_end(void) {
  uint64_t bytes = __atomic_load_n(&state->bytes_stamped, __ATOMIC_ACQUIRE);
  uint64_t events = __atomic_load_n(&state->events_claimed, __ATOMIC_ACQUIRE);
  wait_for_far_end_to(bytes, events);
}

static int lines_but_dsr(void) {
  return (int)(__atomic_load_n(&state->program_lines, __ATOMIC_ACQUIRE) |
               __atomic_load_n(&state->far_lines, __ATOMIC_ACQUIRE));
}

static int ideal_modem_get(int *lines) {
  wait_for_far_end();
  int64_t at_us = now_us();
  uint64_t plan = __atomic_load_n(&state->dsr_plan, __ATOMIC_ACQUIRE);
  int dsr = (plan & 1) != 0 && at_us >= (int64_t)(plan >> 1);
  int value = lines_but_dsr();
  if (dsr) value |= TIOCM_DSR;
  *lines = value;
  add_event(PTY_EVENT_SAMPLE, (uint32_t)value, at_us, at_us);
  return 0;
}

/* ---- the modem status as an adapter answers it ---------------------------- */

static int is_adapter_line(void) {
  const struct status_path *p = &path_of_status;
  return p->round_trip_us != 0 || p->tick_us != 0 || p->tick_delay_us != 0 || p->jitter_us != 0 ||
         __atomic_load_n(&state->byte_delay_us, __ATOMIC_ACQUIRE) != 0;
}

/* splitmix64's finaliser: the n-th draw of a seed, the same in every run. */
static uint64_t mixed(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

static int64_t jitter(void) {
  if (path_of_status.jitter_us <= 0) return 0;
  uint64_t n = __atomic_fetch_add(&state->status_answers, 1, __ATOMIC_ACQ_REL);
  uint64_t draw = mixed(path_of_status.seed + (n + 1) * 0x9e3779b97f4a7c15ULL);
  return (int64_t)(draw % (uint64_t)(path_of_status.jitter_us + 1));
}

static int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return a % b != 0 && a < 0 ? q - 1 : q;
}

/* Status reports reach the program in order: an answer never shows an older
 * moment than the answer before it. */
static int64_t no_older_than_before(int64_t moment) {
  int64_t latest = __atomic_load_n(&state->latest_status_of_us, __ATOMIC_ACQUIRE);
  while (moment > latest &&
         !__atomic_compare_exchange_n(&state->latest_status_of_us, &latest, moment, 0,
                                      __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
  }
  return moment > latest ? moment : latest;
}

/* The moment whose level a TIOCMGET that starts at start_us shows. */
static int64_t status_moment(int64_t start_us) {
  const struct status_path *p = &path_of_status;
  int64_t moment = start_us + p->round_trip_us / 2 - p->tick_delay_us - jitter();
  if (p->tick_us > 0) {
    int64_t made = __atomic_load_n(&state->made_us, __ATOMIC_ACQUIRE);
    moment = made + floor_div(moment - made, p->tick_us) * p->tick_us;
  }
  return no_older_than_before(moment);
}

static void sleep_until(int64_t at_us) {
  struct timespec until = {(time_t)(at_us / 1000000), (long)(at_us % 1000000) * 1000};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
  }
}

/* The bytes written so far that the receiver has by at_us: the stamps are in
 * order, so count back from the last. */
static uint64_t bytes_in_by(int64_t at_us) {
  int64_t delay = __atomic_load_n(&state->byte_delay_us, __ATOMIC_ACQUIRE);
  uint64_t done = __atomic_load_n(&state->bytes_done, __ATOMIC_ACQUIRE);
  uint64_t n = __atomic_load_n(&state->bytes_stamped, __ATOMIC_ACQUIRE);
  while (n > done && state->stamps[(n - 1) % PTY_MODEM_STAMPS] + delay > at_us) n--;
  return n;
}

static int plan_level(uint64_t plan, int64_t at_us) {
  return (plan & 1) != 0 && at_us >= (int64_t)(plan >> 1);
}

/* DSR at at_us by the far end's history: the latest plan in force by then
 * (off before the first). Read again if the far end reused an entry meanwhile. */
static int dsr_in_history(int64_t at_us) {
  for (;;) {
    uint64_t count = __atomic_load_n(&state->plans_published, __ATOMIC_ACQUIRE);
    uint64_t n = count;
    int level = 0;
    while (n > 0 && count - n < PTY_MODEM_HISTORY - 1) {
      const struct pty_modem_plan *entry = &state->history[--n % PTY_MODEM_HISTORY];
      if (__atomic_load_n(&entry->since_us, __ATOMIC_RELAXED) <= at_us) {
        level = plan_level(__atomic_load_n(&entry->plan, __ATOMIC_RELAXED), at_us);
        break;
      }
    }
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    if (__atomic_load_n(&state->plans_published, __ATOMIC_RELAXED) < n + PTY_MODEM_HISTORY) {
      return level;
    }
  }
}

/* The level of an earlier moment, once the far end has given the receiver
 * every byte in by then and every event before the call. */
static int adapter_modem_get(int *lines) {
  int64_t start = now_us();
  int64_t of_us = status_moment(start);
  if (path_of_status.round_trip_us > 0) sleep_until(start + path_of_status.round_trip_us);
  wait_for_far_end_to(bytes_in_by(of_us),
                      __atomic_load_n(&state->events_claimed, __ATOMIC_ACQUIRE));
  int64_t at_us = now_us();
  int value = lines_but_dsr();
  if (dsr_in_history(of_us)) value |= TIOCM_DSR;
  *lines = value;
  add_event(PTY_EVENT_SAMPLE, (uint32_t)value, at_us, of_us);
  return 0;
}

static int modem_get(int *lines) {
  return is_adapter_line() ? adapter_modem_get(lines) : ideal_modem_get(lines);
}

/* Only DTR and RTS are the program's to set, as on a real port. */
static int modem_set(unsigned long request, const int *lines) {
  const uint32_t mine = TIOCM_DTR | TIOCM_RTS;
  uint32_t asked = (uint32_t)*lines & mine;
  uint32_t before = __atomic_load_n(&state->program_lines, __ATOMIC_ACQUIRE);
  uint32_t after = before;
  if (request == TIOCMSET) after = asked;
  if (request == TIOCMBIS) after = before | asked;
  if (request == TIOCMBIC) after = before & ~asked;
  __atomic_store_n(&state->program_lines, after, __ATOMIC_RELEASE);
  if (after != before) {
    int64_t at_us = now_us();
    add_event(PTY_EVENT_LINES, after, at_us, at_us);
  }
  return 0;
}

static int is_modem_request(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void *argument = va_arg(arguments, void *);
  va_end(arguments);
  pthread_once(&once, set_up);
  if (!is_modem_request(request) || !is_line(fd)) return real_ioctl(fd, request, argument);
  if (argument == NULL) {
    errno = EFAULT;
    return -1;
  }
  if (request == TIOCMGET) return modem_get((int *)argument);
  return modem_set(request, (const int *)argument);
}

ssize_t write(int fd, const void *data, size_t length) {
  pthread_once(&once, set_up);
  /* The pseudo-terminal takes the bytes inside the call; a delay on the way
   * back (the scheduler's, on a busy machine) is no part of the line, so the
   * bytes are stamped with the call's start. */
  int64_t at_us = now_us();
  ssize_t written = real_write(fd, data, length);
  if (written > 0 && is_line(fd)) stamp_bytes((size_t)written, at_us);
  return written;
}

int tcsetattr(int fd, int when, const struct termios *settings) {
  pthread_once(&once, set_up);
  int result = real_tcsetattr(fd, when, settings);
  if (result == 0 && is_line(fd)) {
    int64_t at_us = now_us();
    add_event(PTY_EVENT_SETTINGS, 0, at_us, at_us);
  }
  return result;
}
