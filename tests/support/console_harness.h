// The console as the entry field and dialogue tests drive it: keys typed as a
// terminal sends them into a pipe, the screen read back from the screen model.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "console/console.h"
#include "platform/posix/console_posix.h"
#include "platform/posix/screen_model.h"

// What a terminal sends for the keys the tests press.
#define T_RIGHT "\x1b[C"
#define T_LEFT "\x1b[D"
#define T_UP "\x1b[A"
#define T_DOWN "\x1b[B"
#define T_HOME "\x1b[H"
#define T_END "\x1b[F"
#define T_INSERT "\x1b[2~"
#define T_DELETE "\x1b[3~"
#define T_PAGE_UP "\x1b[5~"
#define T_PAGE_DOWN "\x1b[6~"
#define T_F1 "\x1bOP"
#define T_F2 "\x1bOQ"
#define T_F12 "\x1b[24~"
#define T_SHIFT_LEFT "\x1b[1;2D"
#define T_CTRL_HOME "\x1b[1;5H"
#define T_BACKSPACE "\x7f"
#define T_ENTER "\r"
// Only as the last key: the input's end is read as ESC from then on anyway.
#define T_ESC "\x1b"

// A screen of known size in text-alone mode, cleared to yellow on blue; keys
// come from a pipe, the console calls' own output goes nowhere.
class ConsoleHarness {
 public:
  void start(int width, int height) {
    null_fd = open("/dev/null", O_WRONLY);
    console_use_output_fd(null_fd);
    console_setup(nullptr);
    screen_lock();
    screen_reset(width, height, 0);
    screen_unlock();
    clear_screen(ATTR_SCREEN);
    new_input();
  }
  void stop() {
    console_use_input_fd(STDIN_FILENO);
    console_use_output_fd(-1);
    close_input();
    if (fds[0] >= 0) close(fds[0]);
    if (null_fd >= 0) close(null_fd);
  }
  // A fresh pipe for the keys; nothing typed before is left over.
  void new_input() {
    close_input();
    if (fds[0] >= 0) close(fds[0]);
    if (pipe(fds) != 0) fds[0] = fds[1] = -1;
    console_use_input_fd(fds[0]);
    while (key_waiting()) wait_key();
  }
  bool type(const std::string &bytes) {
    return write(fds[1], bytes.data(), bytes.size()) == (ssize_t)bytes.size();
  }
  // After the last key every further key is ESC: nothing can wait for ever.
  void close_input() {
    if (fds[1] >= 0) close(fds[1]);
    fds[1] = -1;
  }

  static std::string row_text(int row) {
    std::string text;
    screen_lock();
    for (int x = 0; x < screen_width(); x++) text += screen_character_at(x, row);
    screen_unlock();
    return text.substr(0, text.find_last_not_of(' ') + 1);
  }
  // Every row, trailing blanks dropped, one line each.
  static std::string screen_text() {
    std::string text;
    for (int row = 0; row < screen_height(); row++) text += row_text(row) + "\n";
    return text;
  }
  static int attribute_at(int row, int column) {
    screen_lock();
    int attribute = screen_attribute_at(column, row);
    screen_unlock();
    return attribute;
  }
  static int cursor_size() {
    screen_lock();
    int size = (int)screen_cursor_size();
    screen_unlock();
    return size;
  }

 private:
  int fds[2] = {-1, -1};
  int null_fd = -1;
};
