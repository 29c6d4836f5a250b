// Standard input that is no console (a pipe or a file) on Windows: its bytes
// are the keys, so that a session can be scripted.
#pragma once

#include "platform/platform.h"

// For a console input handle returns 0 and leaves *key alone. Otherwise
// returns 1 with the next key in *key: a byte is its character, a line feed
// or CR LF is Enter, KEY_NONE while a pipe has nothing yet, and ESC for every
// read after the end of the input. Never waits.
int stream_input_key(HANDLE input, int *key);
