// Standard output and standard error as the console shows them.
//
// At start-up (platform_streams_begin), both are replaced by unbuffered streams that turn the
// programs' code page 850 text into UTF-8 and pass it through the screen
// model, so that the model knows where a prompt left the cursor. Text that is
// UTF-8 already (a file name, a line of a data file) passes unchanged, but for
// the C1 controls. Unbuffered, glibc's formatted printing hands over each
// call's whole text at its end: the text is on the terminal when the call
// returns, in one write. Standard output that is no terminal gets the text
// alone, without escape sequences.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/code_page_850.h"
#include "platform/unattended_run.h"
#include "platform/platform.h"
#include "platform/posix/screen_model.h"
#include "platform/posix/terminal_posix.h"

namespace {

struct stream_target {
  int fd;
  int through_screen;  // the model's terminal (or, without one, standard output)
};

stream_target output_target = {STDOUT_FILENO, 1};
stream_target error_target = {STDERR_FILENO, 0};

// UTF-8 that came as such (a name, a line of a file) stays, unless it is a C1
// control; every other byte is code page 850.
void write_plain(int fd, const char *text, size_t length) {
  std::string out = passing_utf8_text(text, length);
  terminal_write(fd, out.data(), out.size());
}

void write_through_screen(int fd, const char *text, size_t length) {
  std::string out;
  screen_lock();
  screen_ensure();
  screen_follow_terminal(&out);
  screen_write(text, length, &out);
  if (screen_is_terminal()) {
    if (!out.empty())
      terminal_arm_output_restore(fd, screen_cursor_shape_shown(), screen_cursor_x() != 0);
    terminal_write(fd, out.data(), out.size());
  } else {
    // Redirected output gets the bytes as printed: the model only follows the
    // cursor, its line breaks at the window edge are no part of the text.
    write_plain(fd, text, length);
  }
  screen_unlock();
}

ssize_t stream_write(void *cookie, const char *text, size_t length) {
  const stream_target *target = (const stream_target *)cookie;
  if (target->through_screen) {
    write_through_screen(target->fd, text, length);
  } else {
    write_plain(target->fd, text, length);
  }
  return (ssize_t)length;
}

FILE *open_replacement(stream_target *target) {
  cookie_io_functions_t functions = {};
  functions.write = stream_write;
  FILE *stream = fopencookie(target, "w", functions);
  if (stream != nullptr) setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

}  // namespace

void platform_streams_begin(void) {
  static bool begun = false;
  if (begun) return;
  begun = true;
  // Standard error shares the model only when both go to the terminal;
  // redirected, it must not move the cursor on the screen.
  error_target.through_screen = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
  FILE *output = open_replacement(&output_target);
  FILE *error = open_replacement(&error_target);
  if (output == nullptr || error == nullptr) return;  // keep glibc's own streams
  fflush(stdout);
  fflush(stderr);
  stdout = output;
  stderr = error;
}

void unattended_run_begin(void) {
  fflush(stdout);
  fflush(stderr);
  output_target.through_screen = 0;
  error_target.through_screen = 0;
}
