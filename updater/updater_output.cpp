// How morrex speaks and ends: every message reaches the console before the
// call returns, and every exit code follows its pause.
#include <cstdarg>

#include "updater/updater.h"

void updater_print(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vprintf(format, arguments);
  va_end(arguments);
  // Prompts and the progress line end without a line feed; they must be on the
  // console before the pause that follows them.
  fflush(stdout);
}

int end_run(int code) {
  Sleep(code == EXIT_DONE ? END_DONE_MS : END_FAILED_MS);
  return code;
}
