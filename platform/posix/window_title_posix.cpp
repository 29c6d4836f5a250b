// The window title on a terminal: xterm's OSC 0 sequence, written only when
// standard output is a terminal (a file or a pipe must not get it). The title
// before ours is kept on the terminal's own title stack (XTWINOPS 22 and 23);
// a terminal without that stack gets an empty title back.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/title_progress.h"

namespace {
bool pushed;

void write_text(const char *text) {
  // Past the screen model: the title is no text on the screen.
  fflush(stdout);
  size_t length = strlen(text);
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= (size_t)written;
  }
}

void restore_at_exit(void) {
  window_title_restore();
}
}  // namespace

void window_title_set(const char *text) {
  if (!isatty(STDOUT_FILENO)) return;
  if (!pushed) {
    write_text("\033[22;0t");
    pushed = true;
    static bool registered = false;
    if (!registered) atexit(restore_at_exit);
    registered = true;
  }
  char sequence[256];
  snprintf(sequence, sizeof sequence, "\033]0;%s\007", text);
  write_text(sequence);
}

void window_title_restore(void) {
  if (!pushed) return;
  pushed = false;
  write_text("\033]0;\007\033[23;0t");
}
