// tarvel's console layer over the Win32 console: set-up, colours, cursor,
// and a keyboard reader that turns each key press into one key code.
#include "console/console.h"

#include <cstring>

#include "platform/unattended_run.h"

#ifdef _WIN32
#include "platform/win32/console_input_win32.h"

static_assert(STREAM_KEY_NONE == KEY_NONE && STREAM_KEY_ENTER == KEY_ENTER &&
                  STREAM_KEY_ESC == KEY_ESC,
              "a stream's keys are handed on as key codes");
#endif

HANDLE console_input = NULL;
HANDLE console_output = NULL;
int console_keys_ignored = 0;

namespace {

// A key that key_waiting has read ahead and wait_key has not handed out yet.
int held_key = KEY_NONE;

// The lock states and the enhanced-key flag are no part of a key code, and
// either Ctrl key counts as the right one.
const DWORD ignored_key_state = NUMLOCK_ON | SCROLLLOCK_ON | CAPSLOCK_ON | ENHANCED_KEY;

void set_window(SMALL_RECT *window, const CONSOLE_SCREEN_BUFFER_INFO *info) {
  COORD size;
  size.X = (SHORT)(window->Right + 1);
  if ((unsigned)(window->Bottom + 1) > (unsigned)info->dwMaximumWindowSize.Y) {
    size.Y = info->dwMaximumWindowSize.Y;
    window->Bottom = (SHORT)(info->dwMaximumWindowSize.Y - 1);
  } else {
    size.Y = (SHORT)(window->Bottom + 1);
  }
  SetConsoleScreenBufferSize(console_output, size);
  window->Left = 0;
  window->Top = 0;
  SetConsoleWindowInfo(console_output, TRUE, window);
}

COORD position_of(int row, int column) {
  COORD position;
  position.X = (SHORT)column;
  position.Y = (SHORT)row;
  return position;
}

// The key code of a key press, or KEY_NONE for a key that gives none
// (Shift, Ctrl or Alt alone, the lock keys, Pause).
int key_code_of(const KEY_EVENT_RECORD *key) {
  if (key->uChar.AsciiChar != 0) return (unsigned char)key->uChar.AsciiChar;
  DWORD modifiers = key->dwControlKeyState & 0xFFFF & ~ignored_key_state;
  if (modifiers & LEFT_CTRL_PRESSED) {
    modifiers = (modifiers & ~(DWORD)LEFT_CTRL_PRESSED) | RIGHT_CTRL_PRESSED;
  }
  WORD vk = key->wVirtualKeyCode;
  if (vk < 0x20 || vk >= 0x90) return KEY_NONE;
  return (int)(KEY_EXTENDED + modifiers * 0x100 + vk);
}

}  // namespace

void console_setup(SMALL_RECT *window) {
  if (console_input != NULL) return;
  console_input = GetStdHandle(STD_INPUT_HANDLE);
  console_output = GetStdHandle(STD_OUTPUT_HANDLE);
  // Keys one by one, no echo, and Ctrl+C as a key rather than an interrupt.
  SetConsoleMode(console_input, 0);
  CONSOLE_SCREEN_BUFFER_INFO info;
  memset(&info, 0, sizeof info);
  GetConsoleScreenBufferInfo(console_output, &info);
  if (window != NULL) set_window(window, &info);
  // Control characters act on the cursor; no wrap at the end of a row.
  SetConsoleMode(console_output, ENABLE_PROCESSED_OUTPUT);
}

void console_setup_unattended(void) {
  console_keys_ignored = 1;
  unattended_run_begin();
}

void clear_screen(int attribute) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  memset(&info, 0, sizeof info);
  GetConsoleScreenBufferInfo(console_output, &info);
  DWORD cells = (DWORD)info.dwSize.X * (DWORD)info.dwSize.Y;
  COORD origin = position_of(0, 0);
  DWORD written = 0;
  FillConsoleOutputCharacterA(console_output, ' ', cells, origin, &written);
  FillConsoleOutputAttribute(console_output, (WORD)(attribute & 0xFF), cells, origin, &written);
  SetConsoleTextAttribute(console_output, (WORD)(attribute & 0xFF));
  SetConsoleCursorPosition(console_output, origin);
}

void move_cursor(int row, int column) {
  SetConsoleCursorPosition(console_output, position_of(row, column));
}

void write_at(int row, int column, int attribute, const char *text) {
  move_cursor(row, column);
  SetConsoleTextAttribute(console_output, (WORD)(attribute & 0xFF));
  DWORD written = 0;
  WriteConsoleA(console_output, text, (DWORD)strlen(text), &written, NULL);
}

int read_attribute(int row, int column) {
  move_cursor(row, column);
  WORD attribute = 0;
  DWORD read = 0;
  ReadConsoleOutputAttribute(console_output, &attribute, 1, position_of(row, column), &read);
  return attribute & 0xFF;
}

int poll_key(void) {
#ifdef _WIN32
  // A pipe or a file in place of the console: its bytes are the keys.
  int stream_key = KEY_NONE;
  if (stream_input_key(console_input, &stream_key)) return stream_key;
#endif
  INPUT_RECORD record;
  DWORD count = 0;
  for (;;) {
    if (!PeekConsoleInputA(console_input, &record, 1, &count) || count == 0) return KEY_NONE;
    if (!ReadConsoleInputA(console_input, &record, 1, &count) || count == 0) return KEY_NONE;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    int key = key_code_of(&record.Event.KeyEvent);
    if (key != KEY_NONE) return key;
  }
}

int key_waiting(void) {
  if (console_keys_ignored) return 0;
  if (held_key != KEY_NONE) return 1;
  // Keys from a pipe or a file are a script written for the prompts: a running
  // command must not take them as typed-ahead keys (nor the ESC that stands
  // for the end of the script).
  DWORD mode;
  if (!GetConsoleMode(console_input, &mode)) return 0;
  held_key = poll_key();
  return held_key != KEY_NONE ? 1 : 0;
}

int wait_key(void) {
  if (console_keys_ignored) return KEY_ESC;
  if (held_key != KEY_NONE) {
    int key = held_key;
    held_key = KEY_NONE;
    return key;
  }
  int key = poll_key();
  while (key == KEY_NONE) {
    Sleep(20);
    key = poll_key();
  }
  return key;
}
