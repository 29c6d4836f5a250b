// The window title on a terminal: xterm's OSC 0 sequence, written only when
// standard output is a terminal (a file or a pipe must not get it). The title
// before ours is kept on the terminal's own title stack (XTWINOPS 22 and 23);
// a terminal without that stack gets an empty title back. The title comes back
// at the end of the job, at exit, and when a signal ends the process.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/title_progress.h"

namespace {

const char restore_sequence[] = "\033]0;\007\033[23;0t";
const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t pushed;
struct sigaction previous[sizeof ending_signals / sizeof ending_signals[0]];

// Only write(): it also runs inside a signal handler.
void write_all(const char *text, size_t length) {
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= (size_t)written;
  }
}

void write_text(const char *text) {
  // Past the screen model: the title is no text on the screen.
  fflush(stdout);
  write_all(text, strlen(text));
}

// Puts the title back, then hands the signal on: to the handler that was
// there before (the terminal's restore) or to the default action.
void on_signal(int signal_number) {
  if (pushed) write_all(restore_sequence, sizeof restore_sequence - 1);
  pushed = 0;
  for (size_t i = 0; i < sizeof ending_signals / sizeof ending_signals[0]; i++) {
    if (ending_signals[i] == signal_number) sigaction(signal_number, &previous[i], nullptr);
  }
  raise(signal_number);  // blocked here, delivered when this handler returns
}

void restore_at_exit(void) {
  window_title_restore();
}

// Once, at the first title: the terminal's own handlers are in place by then.
void install_restore(void) {
  atexit(restore_at_exit);
  for (size_t i = 0; i < sizeof ending_signals / sizeof ending_signals[0]; i++) {
    if (sigaction(ending_signals[i], nullptr, &previous[i]) != 0) continue;
    if (previous[i].sa_handler == SIG_IGN) continue;  // nohup: stays ignored
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(ending_signals[i], &action, nullptr);
  }
}

}  // namespace

void window_title_set(const char *text) {
  if (!isatty(STDOUT_FILENO)) return;
  if (!pushed) {
    static bool installed = false;
    if (!installed) install_restore();
    installed = true;
    write_text("\033[22;0t");
    pushed = 1;
  }
  char sequence[256];
  snprintf(sequence, sizeof sequence, "\033]0;%s\007", text);
  write_text(sequence);
}

void window_title_restore(void) {
  if (!pushed) return;
  pushed = 0;
  write_text(restore_sequence);
}
