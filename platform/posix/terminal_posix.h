// The terminal behind the console: raw keyboard mode on standard input, and
// putting the terminal back as it was found on every way out of the process
// (return from main, exit(), every signal that ends it) and while a signal
// stops it (Ctrl+Z); taking the program's mode back when it continues.
#pragma once

#include <cstddef>

// Keys one by one, without echo, from the terminal at fd; Ctrl+C, Ctrl+S and
// Ctrl+V arrive as keys unless signals is non-zero, Ctrl+Z suspends the
// program as everywhere on the terminal. Returns -1 when fd is no terminal.
int terminal_enter_raw(int fd, int signals);
// Back to the settings the terminal had before the first terminal_enter_raw.
void terminal_leave_raw(void);
// Colours, cursor or wrap were changed on the terminal at fd: put them back
// at the end. With cursor_shape non-zero the cursor's shape was changed too
// (otherwise the terminal's own shape is left alone). cursor_mid_line non-zero:
// the cursor is not at the start of a line now; if it is still so when the
// process ends, the restore ends that line.
void terminal_arm_output_restore(int fd, int cursor_shape, int cursor_mid_line);
// Puts back what was changed; only the first call after a change does anything.
// Async-signal-safe.
void terminal_restore(void);
// Writes all the bytes, carrying on after interruptions. Async-signal-safe.
void terminal_write(int fd, const char *bytes, size_t length);

// What happened to the terminal since the last call: the program continued
// after a stop (the screen must be drawn again), the window changed its size.
// Events that arrive while the program runs in the background wait until it
// is back in the foreground.
const int terminal_continued = 1;
const int terminal_resized = 2;
int terminal_take_events(void);
