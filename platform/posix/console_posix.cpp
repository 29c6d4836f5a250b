// The Win32 console calls on a terminal: output through the screen model,
// input as key events decoded from the bytes of standard input.
//
// Standard input that is no terminal works the same way: its bytes are the
// keys, and once it has ended every further key is ESC, which walks a program
// back to its menu and out.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string>

#include "platform/platform.h"
#include "platform/posix/console_posix.h"
#include "platform/posix/key_decoder.h"
#include "platform/posix/screen_model.h"
#include "platform/posix/terminal_posix.h"

namespace {

// A lone ESC and the start of a key's sequence look the same until the rest
// of the sequence comes or this long passes without it.
const int escape_wait_ms = 50;
// How soon a wait for a key looks at the terminal again (a stop, a new size).
const int follow_terminal_ms = 100;

char input_tag, output_tag, error_tag;  // the handles are these addresses

DWORD input_mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
DWORD output_mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;

int input_fd = STDIN_FILENO;
int output_override_fd = -1;
std::string input_bytes;  // read, not yet decoded
// Where the bytes of the latest read begin in input_bytes: an ESC before
// them came alone, as the ESC key does, and is no Alt.
size_t latest_read_start = 0;
int input_is_terminal = -1;  // not known yet
key_decoder_state decoder = {};
std::deque<INPUT_RECORD> input_queue;
bool input_ended = false;

// ---------------------------------------------------------------- handles

bool is_input(HANDLE handle) {
  return handle == &input_tag;
}
bool is_output(HANDLE handle) {
  return handle == &output_tag || handle == &error_tag;
}

int output_fd_of(HANDLE handle) {
  if (output_override_fd >= 0) return output_override_fd;
  return handle == &error_tag ? STDERR_FILENO : STDOUT_FILENO;
}

BOOL refuse(void) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// Sends what a model operation produced. The restore is armed first, so that
// a signal arriving during the write still finds it.
void send(HANDLE handle, const std::string &out) {
  if (out.empty()) return;
  int fd = output_fd_of(handle);
  if (screen_is_terminal() && output_override_fd < 0) {
    terminal_arm_output_restore(fd, screen_cursor_shape_shown(), screen_cursor_x() != 0);
  }
  terminal_write(fd, out.data(), out.size());
}

void follow_terminal(void);

// ---------------------------------------------------------------- input

INPUT_RECORD key_record(const decoded_key &key) {
  INPUT_RECORD record = {};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = key.virtual_key;
  record.Event.KeyEvent.uChar.AsciiChar = (CHAR)key.character;
  record.Event.KeyEvent.dwControlKeyState = key.control_state;
  return record;
}

bool wait_readable(int timeout_ms) {
  pollfd watch = {input_fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&watch, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

void read_available(void) {
  if (input_ended || !wait_readable(0)) return;
  char buffer[256];
  ssize_t count;
  do {
    count = read(input_fd, buffer, sizeof buffer);
  } while (count < 0 && errno == EINTR);
  if (count <= 0) {
    input_ended = true;  // end of file, hang-up or a broken descriptor
    return;
  }
  latest_read_start = input_bytes.size();
  input_bytes.append(buffer, (size_t)count);
}

// Keys from a pipe or a file are a script: an ESC there is the ESC key
// whatever follows it.
bool escape_joins(void) {
  if (input_is_terminal < 0) input_is_terminal = isatty(input_fd) ? 1 : 0;
  return input_is_terminal == 1 && latest_read_start != 1;
}

void decode_input(int complete) {
  while (!input_bytes.empty()) {
    decoded_key key;
    decoder.escape_joins = escape_joins() ? 1 : 0;
    size_t used = key_decode(&decoder, (const unsigned char *)input_bytes.data(),
                             input_bytes.size(), complete, &key);
    if (used == 0) return;
    input_bytes.erase(0, used);
    latest_read_start = latest_read_start > used ? latest_read_start - used : 0;
    if (key.present) input_queue.push_back(key_record(key));
  }
}

// Brings the keys that have arrived into the queue, waiting only while a
// sequence has begun and may still be finished.
void fill_input_queue(void) {
  if (!input_queue.empty()) return;
  read_available();
  decode_input(input_ended);
  while (input_queue.empty() && !input_bytes.empty() && !input_ended) {
    if (!wait_readable(escape_wait_ms)) {
      decode_input(1);
      return;
    }
    read_available();
    decode_input(input_ended);
  }
}

INPUT_RECORD escape_record(void) {
  decoded_key key = {1, VK_ESCAPE, 27, 0};
  return key_record(key);
}

// Copies up to length keys from the queue; at the end of the input an ESC.
DWORD copy_input(PINPUT_RECORD records, DWORD length) {
  follow_terminal();
  fill_input_queue();
  if (input_queue.empty() && input_ended && length > 0) {
    records[0] = escape_record();
    return 1;
  }
  DWORD count = 0;
  while (count < length && count < input_queue.size()) {
    records[count] = input_queue[count];
    count++;
  }
  return count;
}

// ---------------------------------------------------------------- output helpers

// Runs one model operation under the model's lock and sends its output.
template <typename Operation>
void on_screen(HANDLE handle, Operation operation) {
  std::string out;
  screen_lock();
  screen_ensure();
  screen_follow_terminal(&out);
  operation(&out);
  send(handle, out);
  screen_unlock();
}

// A program waiting for a key draws nothing: its screen follows a stop or a
// new window size from here.
void follow_terminal(void) {
  on_screen(&output_tag, [](std::string *) {});
}

}  // namespace

// ---------------------------------------------------------------- test hooks

void console_use_input_fd(int fd) {
  input_fd = fd;
  input_bytes.clear();
  latest_read_start = 0;
  input_is_terminal = -1;
  input_queue.clear();
  decoder = key_decoder_state{};
  input_ended = false;
}

void console_use_output_fd(int fd) {
  output_override_fd = fd;
}

void console_queue_event(const INPUT_RECORD &record) {
  input_queue.push_back(record);
}

// ---------------------------------------------------------------- handles and modes

HANDLE GetStdHandle(DWORD which) {
  if (which == STD_INPUT_HANDLE) return &input_tag;
  if (which == STD_OUTPUT_HANDLE) return &output_tag;
  if (which == STD_ERROR_HANDLE) return &error_tag;
  SetLastError(ERROR_INVALID_PARAMETER);
  return INVALID_HANDLE_VALUE;
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  if (is_input(console)) {
    // As on Windows, a standard input redirected from a pipe or a file is no
    // console. Keys that a test feeds in stand for a user at a terminal.
    if (input_fd == STDIN_FILENO && !isatty(STDIN_FILENO)) return refuse();
    *mode = input_mode;
  } else if (is_output(console)) {
    *mode = output_mode;
  } else {
    return refuse();
  }
  return TRUE;
}

BOOL SetConsoleMode(HANDLE console, DWORD mode) {
  if (is_input(console)) {
    input_mode = mode;
    if ((mode & (ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) != 0) {
      terminal_leave_raw();
    } else {
      terminal_enter_raw(input_fd,
                         (mode & ENABLE_PROCESSED_INPUT) != 0);  // no terminal: keys from the bytes
    }
    return TRUE;
  }
  if (!is_output(console)) return refuse();
  output_mode = mode;
  screen_lock();
  screen_ensure();
  screen_set_wrap((mode & ENABLE_WRAP_AT_EOL_OUTPUT) != 0);
  screen_unlock();
  return TRUE;
}

// ---------------------------------------------------------------- screen buffer

BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info) {
  if (!is_output(console)) return refuse();
  screen_lock();
  screen_ensure();
  info->dwSize.X = (SHORT)screen_width();
  info->dwSize.Y = (SHORT)screen_height();
  info->dwCursorPosition.X = (SHORT)screen_cursor_x();
  info->dwCursorPosition.Y = (SHORT)screen_cursor_y();
  info->wAttributes = screen_attribute();
  info->srWindow.Left = 0;
  info->srWindow.Top = 0;
  info->srWindow.Right = (SHORT)(screen_width() - 1);
  info->srWindow.Bottom = (SHORT)(screen_height() - 1);
  info->dwMaximumWindowSize = info->dwSize;
  screen_unlock();
  return TRUE;
}

BOOL SetConsoleScreenBufferSize(HANDLE console, COORD size) {
  if (!is_output(console)) return refuse();
  if (size.X <= 0 || size.Y <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  screen_lock();
  screen_ensure();
  screen_resize(size.X, size.Y);
  screen_unlock();
  return TRUE;
}

// The terminal's window is the whole buffer; there is nothing to move.
BOOL SetConsoleWindowInfo(HANDLE console, BOOL absolute, const SMALL_RECT *window) {
  (void)absolute;
  (void)window;
  return is_output(console) ? TRUE : refuse();
}

BOOL FillConsoleOutputCharacterA(HANDLE console, CHAR character, DWORD length, COORD start,
                                 LPDWORD written) {
  if (!is_output(console)) return refuse();
  on_screen(console, [&](std::string *out) {
    *written = (DWORD)screen_fill_character(start.X, start.Y, length, character, out);
  });
  return TRUE;
}

BOOL FillConsoleOutputAttribute(HANDLE console, WORD attribute, DWORD length, COORD start,
                                LPDWORD written) {
  if (!is_output(console)) return refuse();
  on_screen(console, [&](std::string *out) {
    *written = (DWORD)screen_fill_attribute(start.X, start.Y, length, attribute, out);
  });
  return TRUE;
}

BOOL SetConsoleTextAttribute(HANDLE console, WORD attribute) {
  if (!is_output(console)) return refuse();
  on_screen(console, [&](std::string *) { screen_set_attribute(attribute); });
  return TRUE;
}

BOOL SetConsoleCursorPosition(HANDLE console, COORD position) {
  if (!is_output(console)) return refuse();
  int result = 0;
  on_screen(console,
            [&](std::string *out) { result = screen_set_cursor(position.X, position.Y, out); });
  if (result != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOL WriteConsoleA(HANDLE console, const void *text, DWORD length, LPDWORD written,
                   LPVOID reserved) {
  (void)reserved;
  if (!is_output(console)) return refuse();
  on_screen(console, [&](std::string *out) { screen_write((const char *)text, length, out); });
  if (written != nullptr) *written = length;
  return TRUE;
}

BOOL ReadConsoleOutputAttribute(HANDLE console, WORD *attributes, DWORD length, COORD start,
                                LPDWORD read) {
  if (!is_output(console)) return refuse();
  screen_lock();
  screen_ensure();
  DWORD count = 0;
  int width = screen_width();
  long index = (long)start.Y * width + start.X;
  long cells = (long)width * screen_height();
  for (; count < length && start.X >= 0 && start.Y >= 0 && index < cells; count++, index++) {
    attributes[count] = screen_attribute_at((int)(index % width), (int)(index / width));
  }
  screen_unlock();
  *read = count;
  return TRUE;
}

// ---------------------------------------------------------------- cursor

BOOL GetConsoleCursorInfo(HANDLE console, PCONSOLE_CURSOR_INFO info) {
  if (!is_output(console)) return refuse();
  screen_lock();
  screen_ensure();
  info->dwSize = screen_cursor_size();
  info->bVisible = screen_cursor_visible();
  screen_unlock();
  return TRUE;
}

BOOL SetConsoleCursorInfo(HANDLE console, const CONSOLE_CURSOR_INFO *info) {
  if (!is_output(console)) return refuse();
  if (info->dwSize < 1 || info->dwSize > 100) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  on_screen(console,
            [&](std::string *out) { screen_set_cursor_shape(info->dwSize, info->bVisible, out); });
  return TRUE;
}

// ---------------------------------------------------------------- input

BOOL PeekConsoleInputA(HANDLE console, PINPUT_RECORD records, DWORD length, LPDWORD read) {
  if (!is_input(console)) return refuse();
  *read = copy_input(records, length);
  return TRUE;
}

// Waits for at least one key, as the console does.
BOOL ReadConsoleInputA(HANDLE console, PINPUT_RECORD records, DWORD length, LPDWORD read) {
  if (!is_input(console)) return refuse();
  DWORD count = copy_input(records, length);
  while (count == 0 && length > 0) {
    wait_readable(follow_terminal_ms);
    count = copy_input(records, length);
  }
  for (DWORD i = 0; i < count && !input_queue.empty(); i++) input_queue.pop_front();
  *read = count;
  return TRUE;
}
