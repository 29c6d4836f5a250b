// Terminal byte sequences to console key events.
#include "platform/posix/key_decoder.h"

#include "platform/code_page_850.h"

namespace {

const unsigned char ESC = 0x1B;
// A sequence longer than this is no key of ours; it is dropped.
const size_t longest_sequence = 32;

// ---------------------------------------------------------------- key tables

// The number of an ESC [ n ~ sequence (VT220, Linux console, rxvt).
WORD vk_of_tilde_number(int number) {
  switch (number) {
    case 1:
    case 7:
      return VK_HOME;
    case 2:
      return VK_INSERT;
    case 3:
      return VK_DELETE;
    case 4:
    case 8:
      return VK_END;
    case 5:
      return VK_PRIOR;
    case 6:
      return VK_NEXT;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return (WORD)(VK_F1 + number - 11);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return (WORD)(VK_F6 + number - 17);
    case 23:
    case 24:
      return (WORD)(VK_F11 + number - 23);
    default:
      return 0;
  }
}

// The final letter of ESC [ X, ESC [ 1 ; m X and ESC O X (xterm).
WORD vk_of_letter(unsigned char letter) {
  switch (letter) {
    case 'A':
      return VK_UP;
    case 'B':
      return VK_DOWN;
    case 'C':
      return VK_RIGHT;
    case 'D':
      return VK_LEFT;
    case 'H':
      return VK_HOME;
    case 'F':
      return VK_END;
    case 'P':
      return VK_F1;
    case 'Q':
      return VK_F2;
    case 'R':
      return VK_F3;
    case 'S':
      return VK_F4;
    default:
      return 0;
  }
}

// The xterm modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4 (+ Meta 8, taken as Alt).
DWORD control_state_of_modifier(int modifier) {
  if (modifier < 2) return 0;
  int bits = modifier - 1;
  DWORD state = 0;
  if (bits & 1) state |= SHIFT_PRESSED;
  if (bits & (2 | 8)) state |= LEFT_ALT_PRESSED;
  if (bits & 4) state |= LEFT_CTRL_PRESSED;
  return state;
}

bool is_grey_key(WORD vk) {
  return vk >= VK_PRIOR && vk <= VK_DELETE;
}

void set_key(decoded_key *key, WORD vk, unsigned char character, DWORD state) {
  key->present = 1;
  key->virtual_key = vk;
  key->character = character;
  key->control_state = state;
}

void set_extended(decoded_key *key, WORD vk, DWORD state) {
  if (vk == 0) {
    key->present = 0;  // a sequence we know the shape of but not the key
    return;
  }
  set_key(key, vk, 0, state | (is_grey_key(vk) ? ENHANCED_KEY : 0));
}

// ---------------------------------------------------------------- characters

void decode_control(unsigned char byte, decoded_key *key) {
  switch (byte) {
    case 0x00:
      set_key(key, '2', 0, LEFT_CTRL_PRESSED);
      return;  // Ctrl+Space, Ctrl+@
    case 0x08:
    case 0x7F:
      set_key(key, VK_BACK, 8, 0);
      return;  // Backspace either way
    case 0x09:
      set_key(key, VK_TAB, 9, 0);
      return;
    case 0x0A:
    case 0x0D:
      set_key(key, VK_RETURN, 13, 0);
      return;
    case 0x1B:
      set_key(key, VK_ESCAPE, 27, 0);
      return;
    default:
      break;
  }
  WORD vk = byte <= 26 ? (WORD)('A' + byte - 1) : 0;
  set_key(key, vk, byte, LEFT_CTRL_PRESSED);
}

void decode_printable(unsigned char byte, decoded_key *key) {
  WORD vk = 0;
  DWORD state = 0;
  if (byte >= 'a' && byte <= 'z') vk = (WORD)(byte - 'a' + 'A');
  if (byte >= 'A' && byte <= 'Z') {
    vk = byte;
    state = SHIFT_PRESSED;
  }
  if ((byte >= '0' && byte <= '9') || byte == ' ') vk = byte;
  set_key(key, vk, byte, state);
}

size_t utf8_length_of_lead(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  if (byte >= 0xF0 && byte <= 0xF4) return 4;
  return 0;
}

// A UTF-8 letter becomes its code page 850 byte; a byte that starts no valid
// UTF-8 character is taken as a code page 850 byte itself (a script written
// in the console's code page).
size_t decode_utf8(const unsigned char *bytes, size_t length, int complete, decoded_key *key) {
  size_t need = utf8_length_of_lead(bytes[0]);
  size_t have = 1;
  while (have < need && have < length && (bytes[have] & 0xC0) == 0x80) have++;
  if (need != 0 && have == length && have < need && !complete) return 0;
  if (need == 0 || have < need) {
    set_key(key, 0, bytes[0], 0);
    return 1;
  }
  uint32_t code_point = bytes[0] & (0x7F >> need);
  for (size_t i = 1; i < need; i++) code_point = (code_point << 6) | (bytes[i] & 0x3F);
  int byte = cp850_from_unicode(code_point);
  if (byte < 0) {
    key->present = 0;  // a character the console's code page cannot hold
  } else {
    set_key(key, 0, (unsigned char)byte, 0);
  }
  return need;
}

// ---------------------------------------------------------------- sequences

// The numbers of a control sequence's parameters ("1;5" gives 1 and 5).
void parse_parameters(const unsigned char *from, const unsigned char *to, int *first, int *second) {
  int *target = first;
  *first = 0;
  *second = 0;
  for (const unsigned char *p = from; p < to; p++) {
    if (*p == ';') {
      if (target == second) return;
      target = second;
    } else if (*p >= '0' && *p <= '9' && *target < 1000) {
      *target = *target * 10 + (*p - '0');
    }
  }
}

void interpret_csi(const unsigned char *parameters, size_t count, unsigned char final,
                   decoded_key *key) {
  if (count > 0 && parameters[0] >= '<') {
    key->present = 0;  // private sequences (mouse reports and the like)
    return;
  }
  int number, modifier;
  parse_parameters(parameters, parameters + count, &number, &modifier);
  DWORD state = control_state_of_modifier(modifier);
  switch (final) {
    case '~':
      set_extended(key, vk_of_tilde_number(number), state);
      return;
    // rxvt marks Shift, Ctrl and both on the same numbers with another final.
    case '$':
      set_extended(key, vk_of_tilde_number(number), SHIFT_PRESSED);
      return;
    case '^':
      set_extended(key, vk_of_tilde_number(number), LEFT_CTRL_PRESSED);
      return;
    case '@':
      set_extended(key, vk_of_tilde_number(number), SHIFT_PRESSED | LEFT_CTRL_PRESSED);
      return;
    case 'a':
    case 'b':
    case 'c':
    case 'd':  // rxvt Shift+arrow
      set_extended(key, vk_of_letter((unsigned char)(final - 'a' + 'A')), SHIFT_PRESSED);
      return;
    case 'Z':
      set_key(key, VK_TAB, 9, SHIFT_PRESSED);
      return;
    default:
      set_extended(key, vk_of_letter(final), state);
      return;
  }
}

// ESC [ [ A .. ESC [ [ E: F1 to F5 on the Linux console.
size_t decode_linux_function_key(const unsigned char *bytes, size_t length, int complete,
                                 decoded_key *key) {
  if (length < 4) return complete ? 0 : SIZE_MAX;
  if (bytes[3] < 0x40 || bytes[3] > 0x7E) return 0;
  unsigned char letter = bytes[3];
  set_extended(key, letter >= 'A' && letter <= 'E' ? (WORD)(VK_F1 + letter - 'A') : 0, 0);
  return 4;
}

// ESC [ parameters intermediates final. Returns the length used, 0 when the
// bytes cannot be such a sequence, SIZE_MAX when it is not finished yet.
size_t decode_csi(const unsigned char *bytes, size_t length, int complete, decoded_key *key) {
  if (length > 2 && bytes[2] == '[') return decode_linux_function_key(bytes, length, complete, key);
  size_t i = 2;
  while (i < length && bytes[i] >= 0x30 && bytes[i] <= 0x3F) i++;
  size_t parameters_end = i;
  // rxvt ends Shift+key with '$', which is otherwise an intermediate byte.
  if (i < length && bytes[i] == '$' && i > 2) {
    interpret_csi(bytes + 2, parameters_end - 2, '$', key);
    return i + 1;
  }
  while (i < length && bytes[i] >= 0x20 && bytes[i] <= 0x2F) i++;
  if (i >= longest_sequence) {
    key->present = 0;
    return i;
  }
  if (i == length) return complete ? 0 : SIZE_MAX;
  if (bytes[i] < 0x40 || bytes[i] > 0x7E) return 0;
  interpret_csi(bytes + 2, parameters_end - 2, bytes[i], key);
  return i + 1;
}

// ESC O X and ESC O m X (xterm application cursor keys, SS3 function keys).
size_t decode_ss3(const unsigned char *bytes, size_t length, int complete, decoded_key *key) {
  size_t i = 2;
  int modifier = 0;
  while (i < length && i < 4 && bytes[i] >= '0' && bytes[i] <= '9') {
    modifier = modifier * 10 + (bytes[i] - '0');
    i++;
  }
  if (i == length) return complete ? 0 : SIZE_MAX;
  unsigned char final = bytes[i];
  if (final < 0x40 || final > 0x7E) return 0;
  if (final >= 'a' && final <= 'd') {  // rxvt Ctrl+arrow
    set_extended(key, vk_of_letter((unsigned char)(final - 'a' + 'A')), LEFT_CTRL_PRESSED);
  } else if (final == 'M') {  // keypad Enter
    set_key(key, VK_RETURN, 13, 0);
  } else {
    set_extended(key, vk_of_letter(final), control_state_of_modifier(modifier));
  }
  return i + 1;
}

// The character after an ESC that came with it: Alt and that character, as the
// console reports it. Returns the bytes used, 0 for no character, SIZE_MAX
// while a UTF-8 letter is unfinished.
size_t decode_alt_character(const unsigned char *bytes, size_t length, int complete,
                            decoded_key *key) {
  size_t used = 0;
  if (bytes[0] >= 0x20 && bytes[0] < 0x7F) {
    decode_printable(bytes[0], key);
    used = 1;
  } else if (bytes[0] >= 0x80) {
    used = decode_utf8(bytes, length, complete, key);
    if (used == 0) return SIZE_MAX;
  }
  if (key->present) key->control_state |= LEFT_ALT_PRESSED;
  return used;
}

size_t decode_escape(const key_decoder_state *state, const unsigned char *bytes, size_t length,
                     int complete, decoded_key *key) {
  size_t used = 0;
  if (length == 1) {
    used = complete ? 0 : SIZE_MAX;
  } else if (bytes[1] == '[') {
    used = decode_csi(bytes, length, complete, key);
  } else if (bytes[1] == 'O') {
    used = decode_ss3(bytes, length, complete, key);
  }
  if (used == SIZE_MAX) return 0;  // wait for the rest
  if (used == 0 && state->escape_joins && length > 1) {
    used = decode_alt_character(bytes + 1, length - 1, complete, key);
    if (used == SIZE_MAX) return 0;
    if (used > 0) return used + 1;
  }
  if (used == 0) {
    // Nothing that can follow: the ESC key itself, and the next byte is the next key.
    set_key(key, VK_ESCAPE, 27, 0);
    return 1;
  }
  return used;
}

}  // namespace

size_t key_decode(key_decoder_state *state, const unsigned char *bytes, size_t length, int complete,
                  decoded_key *key) {
  key->present = 0;
  if (length == 0) return 0;
  unsigned char first = bytes[0];
  size_t used = 1;
  if (first == ESC) {
    used = decode_escape(state, bytes, length, complete, key);
  } else if (first == 0x0A && state->after_cr) {
    key->present = 0;  // CR LF is one Enter
  } else if (first < 0x20 || first == 0x7F) {
    decode_control(first, key);
  } else if (first < 0x80) {
    decode_printable(first, key);
  } else {
    used = decode_utf8(bytes, length, complete, key);
  }
  if (used > 0) state->after_cr = (first == 0x0D);
  return used;
}
