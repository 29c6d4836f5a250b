// Standard input that is no console (a pipe or a file) on Windows: its bytes
// are the keys, so that a session can be scripted.
#pragma once

#include "platform/platform.h"

// The keys of a stream besides its bytes' characters; they are the console's
// key codes for no key, Enter and ESC.
enum { STREAM_KEY_NONE = -1, STREAM_KEY_ENTER = 13, STREAM_KEY_ESC = 27 };

// For a console input handle returns 0 and leaves *key alone. Otherwise
// returns 1 with the next key in *key: a byte is its character, a line feed
// or CR LF is STREAM_KEY_ENTER, STREAM_KEY_NONE while a pipe has nothing yet,
// and STREAM_KEY_ESC for every read after the end of the input. Never waits.
int stream_input_key(HANDLE input, int *key);
