// Hooks into the console stand-in for tests: where the keys come from and
// where the console calls' output goes.
#pragma once

#include "platform/posix/win32_stand_in.h"

// Keys are read from fd from now on (standard input by default), as if typed
// at a terminal; keys already queued and an end of input seen before are
// forgotten.
void console_use_input_fd(int fd);
// Puts an input event behind the queued ones, as the console would queue a
// key release or a focus change, which no terminal sends.
void console_queue_event(const INPUT_RECORD &record);
// The console calls write to fd instead of standard output or error; -1 undoes it.
void console_use_output_fd(int fd);
