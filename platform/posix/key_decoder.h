// Turns the bytes a terminal sends for key presses into console key events:
// characters (UTF-8 letters become their code page 850 byte), and the escape
// sequences of the cursor block and the function keys in the xterm, VT220,
// Linux console and rxvt forms, with their Shift, Alt and Ctrl modifiers, and
// Alt+character as ESC and the character.
// Pure: no I/O, no clock; the caller says when no further byte can follow.
#pragma once

#include <cstddef>

#include "platform/posix/win32_stand_in.h"

// One key press as a console key event describes it.
struct decoded_key {
  int present;              // 0: the bytes were used up without giving a key
  WORD virtual_key;         // VK_... code
  unsigned char character;  // the character byte (code page 850), 0 for none
  DWORD control_state;      // SHIFT_PRESSED, LEFT_ALT_PRESSED, LEFT_CTRL_PRESSED, ENHANCED_KEY
};

// What the decoder carries from one call to the next.
struct key_decoder_state {
  int after_cr;  // the last key was a carriage return: a line feed now ends the same line
  // Set by the caller before each call: the bytes came from a terminal, and
  // an ESC at their start arrived together with the byte after it. A terminal
  // sends Alt+letter so; the ESC key alone comes alone.
  int escape_joins;
};

// Decodes the first key in bytes[0..length). Returns how many bytes it used,
// with the key (or none) in *key; returns 0 when the bytes are the beginning of
// a longer sequence and more may still come. When complete is non-zero no more
// bytes will follow the given ones soon, so a lone ESC is the ESC key.
size_t key_decode(key_decoder_state *state, const unsigned char *bytes, size_t length, int complete,
                  decoded_key *key);
