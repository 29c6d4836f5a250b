// Raw mode, the restore on the way out, stops and continues.
//
// The restore is registered before anything is changed. The signal handlers
// only do what is async-signal-safe (tcsetattr, write, sigaction, atomics)
// and then let the signal take its default course, so the process ends or
// stops as it would have. Everything else (drawing the screen again, the new
// window size) is left to the program's own thread as an event.
#include "platform/posix/terminal_posix.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace {

const int restore_settings = 1;
const int restore_output = 2;
const int restore_cursor_shape = 4;

// Cancels a sequence cut off by a signal, then the terminal's own colours,
// a visible cursor and line wrap back on; the cursor's own shape only where
// it was changed.
const char restore_sequence[] = "\x18\x1b[0m\x1b[?25h\x1b[?7h";
const char restore_shape_sequence[] = "\x1b[0 q";
// The shell's prompt after the program starts on a line of its own.
const char line_end[] = "\r\n";

// The signals whose default is to end the process (SIGKILL cannot be caught),
// and those that stop it.
const int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
const int stopping_signals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

termios saved_settings;
termios raw_applied;
bool settings_saved = false;
int settings_fd = -1;
std::atomic<int> pending{0};
std::atomic<int> output_fd{-1};
std::atomic<int> mid_line{0};
std::atomic<int> raw_wanted{0};
std::atomic<int> events{0};
bool installed = false;

// Stopped or continued in the background, the terminal belongs to the shell.
bool in_foreground(void) {
  int fd = settings_fd >= 0 ? settings_fd : output_fd.load();
  if (fd < 0) return true;
  pid_t group = tcgetpgrp(fd);
  return group < 0 || group == getpgrp();  // no terminal there: no job control either
}

// Puts back what was changed; at the end of the process (not at a stop) the
// line the cursor is on is ended too.
void restore(bool ending) {
  int what = pending.exchange(0);
  if ((what & restore_output) != 0) {
    int fd = output_fd.load();
    terminal_write(fd, restore_sequence, sizeof restore_sequence - 1);
    if (ending && mid_line.load() != 0) terminal_write(fd, line_end, sizeof line_end - 1);
    if ((what & restore_cursor_shape) != 0) {
      terminal_write(fd, restore_shape_sequence, sizeof restore_shape_sequence - 1);
    }
  }
  if ((what & restore_settings) != 0) tcsetattr(settings_fd, TCSANOW, &saved_settings);
}

bool is_stopping(int signal_number) {
  for (int stopping : stopping_signals) {
    if (stopping == signal_number) return true;
  }
  return false;
}

void take_raw_mode_back(void) {
  if (raw_wanted.load() == 0 || (pending.load() & restore_settings) != 0 || !in_foreground())
    return;
  pending.fetch_or(restore_settings);
  tcsetattr(settings_fd, TCSANOW, &raw_applied);
}

void on_exit_restore(void) {
  raw_wanted.store(0);  // for good: nothing after this takes the raw mode back
  restore(true);
}

void on_signal(int signal_number) {
  int saved_errno = errno;
  if (in_foreground()) restore(!is_stopping(signal_number));
  errno = saved_errno;
  raise(signal_number);  // the handler was reset: the default action follows on return
}

// A handler only where the signal has its default action: one the program
// set itself, or an ignored one (SIGHUP under nohup), stays.
void install_handler(int signal_number, void (*handler)(int), int flags) {
  struct sigaction current;
  if (sigaction(signal_number, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal_number, &action, nullptr);
}

void install_stop_handlers(void) {
  for (int signal_number : stopping_signals) {
    install_handler(signal_number, on_signal, SA_RESETHAND | SA_RESTART);
  }
}

// After a stop: the stop handlers again, the program's keyboard mode, and an
// event for the program to draw its screen again.
void on_continue(int) {
  int saved_errno = errno;
  install_stop_handlers();
  take_raw_mode_back();
  events.fetch_or(terminal_continued);
  errno = saved_errno;
}

void on_window_change(int) {
  events.fetch_or(terminal_resized);
}

void install_restore(void) {
  if (installed) return;
  installed = true;
  atexit(on_exit_restore);
  for (int signal_number : ending_signals) {
    install_handler(signal_number, on_signal, SA_RESETHAND | SA_RESTART);
  }
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++) {
    install_handler(signal_number, on_signal, SA_RESETHAND | SA_RESTART);
  }
  install_stop_handlers();
  install_handler(SIGCONT, on_continue, SA_RESTART);
  install_handler(SIGWINCH, on_window_change, SA_RESTART);
}

termios raw_settings(int signals) {
  termios raw = saved_settings;
  // Input: no CR to LF (Enter stays 13), no XON/XOFF (Ctrl+S and Ctrl+Q are
  // keys), no stripping of the 8th bit (UTF-8), no break or parity marks.
  raw.c_iflag &= ~(tcflag_t)(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  // Output processing stays on: anything written past the screen model still
  // gets its line feeds as new lines.
  raw.c_cflag &= ~(tcflag_t)(CSIZE | PARENB);
  raw.c_cflag |= CS8;
  // No echo, no line editing, no Ctrl+V literal-next. Ctrl+Z suspends as in
  // every terminal program; Ctrl+C and Ctrl+\ are keys unless the caller
  // wants their signals.
  raw.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | IEXTEN);
  raw.c_lflag |= ISIG;
  if (!signals) {
    raw.c_cc[VINTR] = _POSIX_VDISABLE;
    raw.c_cc[VQUIT] = _POSIX_VDISABLE;
  }
  // A read returns as soon as one byte is there; reads only follow a poll().
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

}  // namespace

int terminal_enter_raw(int fd, int signals) {
  if (!isatty(fd) || (settings_saved && fd != settings_fd)) return -1;
  if (!settings_saved) {
    if (tcgetattr(fd, &saved_settings) != 0) return -1;
    settings_fd = fd;
    settings_saved = true;
  }
  install_restore();
  // The handlers read raw_applied only while raw_wanted is set.
  raw_wanted.store(0);
  raw_applied = raw_settings(signals);
  raw_wanted.store(1);
  pending.fetch_or(restore_settings);
  return tcsetattr(fd, TCSANOW, &raw_applied) == 0 ? 0 : -1;
}

void terminal_leave_raw(void) {
  if (!settings_saved) return;
  raw_wanted.store(0);
  pending.fetch_and(~restore_settings);
  tcsetattr(settings_fd, TCSANOW, &saved_settings);
}

void terminal_arm_output_restore(int fd, int cursor_shape, int cursor_mid_line) {
  mid_line.store(cursor_mid_line != 0 ? 1 : 0);
  int wanted = restore_output | (cursor_shape ? restore_cursor_shape : 0);
  if ((pending.load() & wanted) == wanted && output_fd.load() == fd) return;
  install_restore();
  output_fd.store(fd);
  pending.fetch_or(wanted);
}

void terminal_restore(void) {
  restore(false);
}

void terminal_write(int fd, const char *bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    length -= (size_t)written;
  }
}

int terminal_take_events(void) {
  // A program brought back with fg after a bg gets no SIGCONT: its keyboard
  // mode is taken back here.
  take_raw_mode_back();
  if (events.load() == 0 || !in_foreground()) return 0;
  return events.exchange(0);
}
