// Keys from a standard input that is a pipe or a file. A pipe is only read
// as far as PeekNamedPipe says bytes are there, so a poll never waits for the
// writer; a file has its bytes until its end. A pipe that cannot be peeked
// (Wine's pipes from the Unix side say "not supported") is read by a thread
// of its own, which hands over what it got.
#include "platform/win32/console_input_win32.h"

#include <cstring>

namespace {

enum InputKind { KIND_UNKNOWN, KIND_CONSOLE, KIND_PIPE, KIND_PIPE_THREAD, KIND_FILE, KIND_NONE };

HANDLE checked_input = NULL;
InputKind input_kind = KIND_UNKNOWN;
int input_ended = 0;
// The last byte was a carriage return: a line feed now ends the same line.
int after_cr = 0;
unsigned char buffer[256];
DWORD buffer_start = 0;
DWORD buffer_end = 0;

// The pipe thread's hand-over: bytes it read and has not had taken yet, and
// whether its input has ended. It reads on only after taken_event.
CRITICAL_SECTION handover_lock;
unsigned char handover_bytes[sizeof buffer];
DWORD handover_count = 0;
int handover_ended = 0;
HANDLE taken_event = NULL;

InputKind kind_of(HANDLE input) {
  DWORD mode = 0;
  if (input == NULL || input == INVALID_HANDLE_VALUE) return KIND_NONE;
  if (GetConsoleMode(input, &mode)) return KIND_CONSOLE;
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE:
      return KIND_PIPE;
    case FILE_TYPE_DISK:
    case FILE_TYPE_CHAR:
      return KIND_FILE;  // a character device such as NUL
    default:
      return KIND_NONE;  // nothing to read keys from
  }
}

DWORD WINAPI pipe_reader(LPVOID input) {
  for (;;) {
    unsigned char bytes[sizeof buffer];
    DWORD count = 0;
    BOOL ok = ReadFile((HANDLE)input, bytes, sizeof bytes, &count, NULL);
    EnterCriticalSection(&handover_lock);
    memcpy(handover_bytes, bytes, count);
    handover_count = ok ? count : 0;
    handover_ended = !ok || count == 0;
    LeaveCriticalSection(&handover_lock);
    if (!ok || count == 0) return 0;
    WaitForSingleObject(taken_event, INFINITE);
  }
}

void start_pipe_reader(HANDLE input) {
  InitializeCriticalSection(&handover_lock);
  taken_event = CreateEventA(NULL, FALSE, FALSE, NULL);
  HANDLE thread = NULL;
  if (taken_event != NULL) thread = CreateThread(NULL, 0, pipe_reader, input, 0, NULL);
  if (thread == NULL) {
    input_ended = 1;  // no way to read without waiting: no keys at all
    return;
  }
  CloseHandle(thread);
  input_kind = KIND_PIPE_THREAD;
}

void take_handover(void) {
  EnterCriticalSection(&handover_lock);
  if (handover_count > 0) {
    memcpy(buffer, handover_bytes, handover_count);
    buffer_start = 0;
    buffer_end = handover_count;
    handover_count = 0;
    SetEvent(taken_event);
  } else if (handover_ended) {
    input_ended = 1;
  }
  LeaveCriticalSection(&handover_lock);
}

// How many bytes may be read now without waiting. A closed pipe ends the
// input; one that cannot be peeked gets its reader thread.
DWORD readable_now(HANDLE input) {
  if (input_kind != KIND_PIPE) return sizeof buffer;
  DWORD available = 0;
  if (PeekNamedPipe(input, NULL, 0, NULL, &available, NULL)) {
    return available < sizeof buffer ? available : (DWORD)sizeof buffer;
  }
  DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA) {
    input_ended = 1;
  } else {
    start_pipe_reader(input);
  }
  return 0;
}

void fill_buffer(HANDLE input) {
  if (input_ended || input_kind == KIND_NONE) {
    input_ended = 1;
    return;
  }
  if (input_kind == KIND_PIPE_THREAD) {
    take_handover();
    return;
  }
  DWORD wanted = readable_now(input);
  if (wanted == 0) return;
  DWORD count = 0;
  if (!ReadFile(input, buffer, wanted, &count, NULL) || count == 0) {
    input_ended = 1;
    return;
  }
  buffer_start = 0;
  buffer_end = count;
}

// The key of one byte, or STREAM_KEY_NONE for a byte that gives none.
int key_of_byte(unsigned char byte) {
  int was_after_cr = after_cr;
  after_cr = byte == '\r';
  if (byte == '\n') return was_after_cr ? STREAM_KEY_NONE : STREAM_KEY_ENTER;
  if (byte == 0) return STREAM_KEY_NONE;
  return byte;
}

}  // namespace

int stream_input_key(HANDLE input, int *key) {
  if (input_kind == KIND_UNKNOWN || (input != checked_input && input_kind != KIND_PIPE_THREAD)) {
    // A new handle starts with nothing read from it.
    checked_input = input;
    input_kind = kind_of(input);
    input_ended = 0;
    after_cr = 0;
    buffer_start = buffer_end = 0;
  }
  if (input_kind == KIND_CONSOLE) return 0;
  for (;;) {
    if (buffer_start == buffer_end) fill_buffer(input);
    if (buffer_start == buffer_end) {
      *key = input_ended ? STREAM_KEY_ESC : STREAM_KEY_NONE;
      return 1;
    }
    int next = key_of_byte(buffer[buffer_start++]);
    if (next != STREAM_KEY_NONE) {
      *key = next;
      return 1;
    }
  }
}
