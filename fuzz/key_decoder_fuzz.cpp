// Any bytes from a terminal: the decoder always moves on and never reads past
// what it was given, and every key it gives carries a virtual-key code of one
// byte (a character with no code page 850 byte has neither; the console drops it).
#include <cstdint>
#include <cstdlib>

#include "platform/posix/key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  key_decoder_state state = {};
  size_t at = 0;
  while (at < size) {
    decoded_key key = {};
    // From a terminal (Alt+character possible) or a script, by turns.
    state.escape_joins = (int)(at & 1);
    // Decode as bytes arrive one by one, then with nothing more to come.
    size_t used = key_decode(&state, data + at, size - at, 0, &key);
    if (used == 0) used = key_decode(&state, data + at, size - at, 1, &key);
    if (used == 0 || used > size - at) abort();
    if (key.present && key.virtual_key > 0xFF) abort();
    at += used;
  }
  return 0;
}
