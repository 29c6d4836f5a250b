// Raw mode and the restore on the way out.
//
// The restore is registered before anything is changed. The signal handlers
// only do what is async-signal-safe (tcsetattr, write) and then let the
// signal take its default course, so the process ends as it would have.
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

// Cancels a sequence cut off by a signal, then the terminal's own colours,
// a visible cursor of its own shape, and line wrap back on.
const char restore_sequence[] = "\x18\x1b[0m\x1b[?25h\x1b[0 q\x1b[?7h";

termios saved_settings;
bool settings_saved = false;
int settings_fd = -1;
std::atomic<int> pending{0};
std::atomic<int> output_fd{-1};
bool installed = false;

void on_exit_restore(void) {
  terminal_restore();
}

void on_signal(int signal_number) {
  int saved_errno = errno;
  terminal_restore();
  errno = saved_errno;
  raise(signal_number);  // the handler was reset: the default action follows on return
}

void install_handler(int signal_number) {
  struct sigaction current;
  if (sigaction(signal_number, nullptr, &current) != 0) return;
  if (current.sa_handler == SIG_IGN) return;  // e.g. SIGHUP under nohup: stay ignored
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(signal_number, &action, nullptr);
}

void install_restore(void) {
  if (installed) return;
  installed = true;
  atexit(on_exit_restore);
  install_handler(SIGTERM);
  install_handler(SIGHUP);
  install_handler(SIGINT);
  install_handler(SIGQUIT);
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
  // No echo, no line editing, no Ctrl+V literal-next; Ctrl+C and Ctrl+Z as
  // keys unless the caller wants the signals.
  raw.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | IEXTEN | ISIG);
  if (signals) raw.c_lflag |= ISIG;
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
  pending.fetch_or(restore_settings);
  termios raw = raw_settings(signals);
  return tcsetattr(fd, TCSANOW, &raw) == 0 ? 0 : -1;
}

void terminal_leave_raw(void) {
  if (!settings_saved) return;
  pending.fetch_and(~restore_settings);
  tcsetattr(settings_fd, TCSANOW, &saved_settings);
}

void terminal_arm_output_restore(int fd) {
  if ((pending.load() & restore_output) != 0 && output_fd.load() == fd) return;
  install_restore();
  output_fd.store(fd);
  pending.fetch_or(restore_output);
}

void terminal_restore(void) {
  int what = pending.exchange(0);
  if ((what & restore_output) != 0) {
    terminal_write(output_fd.load(), restore_sequence, sizeof restore_sequence - 1);
  }
  if ((what & restore_settings) != 0) tcsetattr(settings_fd, TCSANOW, &saved_settings);
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
