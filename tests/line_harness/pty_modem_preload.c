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

/* How long a call waits for the far end before it goes on without it: a far
 * end that died must not hang the program. */
static const int64_t FAR_END_PATIENCE_US = 2000000;

static void set_up(void) {
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
static void add_event(uint32_t kind, uint32_t value, int64_t at_us) {
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
  event->kind = kind;
  event->value = value;
  __atomic_store_n(&event->ready, n + 1, __ATOMIC_RELEASE);
  if (kind != PTY_EVENT_SAMPLE) wake_far_end();
}

static void stamp_bytes(size_t count) {
  int64_t at_us = now_us();
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

/* A sample must see what the receiver made of every byte and line change
 * before it, as on a real line, however busy the machine is. */
static void wait_for_far_end(void) {
  uint64_t bytes = __atomic_load_n(&state->bytes_stamped, __ATOMIC_ACQUIRE);
  uint64_t events = __atomic_load_n(&state->events_claimed, __ATOMIC_ACQUIRE);
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

static int modem_get(int *lines) {
  wait_for_far_end();
  int64_t at_us = now_us();
  uint64_t plan = __atomic_load_n(&state->dsr_plan, __ATOMIC_ACQUIRE);
  int dsr = (plan & 1) != 0 && at_us >= (int64_t)(plan >> 1);
  int value = (int)(__atomic_load_n(&state->program_lines, __ATOMIC_ACQUIRE) |
                    __atomic_load_n(&state->far_lines, __ATOMIC_ACQUIRE));
  if (dsr) value |= TIOCM_DSR;
  *lines = value;
  add_event(PTY_EVENT_SAMPLE, (uint32_t)value, at_us);
  return 0;
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
  if (after != before) add_event(PTY_EVENT_LINES, after, now_us());
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
  ssize_t written = real_write(fd, data, length);
  if (written > 0 && is_line(fd)) stamp_bytes((size_t)written);
  return written;
}

int tcsetattr(int fd, int when, const struct termios *settings) {
  pthread_once(&once, set_up);
  int result = real_tcsetattr(fd, when, settings);
  if (result == 0 && is_line(fd)) add_event(PTY_EVENT_SETTINGS, 0, now_us());
  return result;
}
