// The terminal behind the console: raw keyboard mode on standard input, and
// putting the terminal back as it was found on every way out of the process
// (return from main, exit(), SIGTERM, SIGHUP, SIGINT, SIGQUIT).
#pragma once

#include <cstddef>

// Keys one by one, without echo, from the terminal at fd; Ctrl+C, Ctrl+Z,
// Ctrl+S and Ctrl+V arrive as keys unless signals is non-zero. Returns -1 when
// fd is no terminal.
int terminal_enter_raw(int fd, int signals);
// Back to the settings the terminal had before the first terminal_enter_raw.
void terminal_leave_raw(void);
// Colours, cursor shape or wrap were changed on the terminal at fd: put them
// back at the end.
void terminal_arm_output_restore(int fd);
// Puts back what was changed; only the first call after a change does anything.
// Async-signal-safe.
void terminal_restore(void);
// Writes all the bytes, carrying on after interruptions.
void terminal_write(int fd, const char *bytes, size_t length);
