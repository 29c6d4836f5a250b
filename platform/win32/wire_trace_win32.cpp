// The wire trace on Windows (see wire_trace_win32.h). Without ORN_TRACE each
// port call costs one comparison more than the plain Win32 call.
#define PORT_CALLS_WIN32_IMPLEMENTATION
#include "platform/win32/wire_trace_win32.h"

#include <cstdio>
#include <cstring>

#include "platform/wire_trace_text.h"

namespace {

// One write a completion routine is still due for: tarvel keeps one in flight.
struct PendingWrite {
  LPOVERLAPPED request;  // nullptr: free
  const BYTE *data;      // stays valid until the write completes, as Win32 requires
  DWORD length;
  LPOVERLAPPED_COMPLETION_ROUTINE completed;
};

const int PENDING_WRITES = 8;

SRWLOCK trace_lock = SRWLOCK_INIT;  // guards the settings state and the table
int trace_wanted = -1;              // -1: ORN_TRACE not read yet
char trace_name[MAX_PATH];
HANDLE trace_file = INVALID_HANDLE_VALUE;
HANDLE traced_port = INVALID_HANDLE_VALUE;
LARGE_INTEGER opened_at;
LARGE_INTEGER ticks_per_second;
int traced_dtr = -1;
int traced_rts = -1;
char traced_line[32];
PendingWrite pending_writes[PENDING_WRITES];

bool tracing(HANDLE handle) {
  return handle == traced_port && trace_file != INVALID_HANDLE_VALUE;
}

// Split so that a run of days cannot overflow the multiplication.
long long microseconds_since_open(void) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  long long ticks = now.QuadPart - opened_at.QuadPart;
  long long rate = ticks_per_second.QuadPart;
  return ticks / rate * 1000000 + ticks % rate * 1000000 / rate;
}

// Each batch of lines goes out with one write to a file opened for appending:
// nothing is held back that a killed program would lose.
void trace_lines(const char *event, const char *const *values, int count) {
  long long at_us = microseconds_since_open();
  char text[WIRE_TRACE_BATCH * 32];
  int used = wire_trace_lines(text, sizeof text, at_us, event, values, count);
  DWORD written = 0;
  WriteFile(trace_file, text, (DWORD)used, &written, nullptr);
}

void trace(const char *event, const char *value) {
  trace_lines(event, &value, 1);
}

void trace_batch(void *, const char *const *values, int count) {
  trace_lines("TX", values, count);
}

void trace_bytes(const void *data, DWORD length) {
  wire_trace_bytes(static_cast<const BYTE *>(data), length, trace_batch, nullptr);
}

// ---------------------------------------------------------------- opening

bool trace_requested(void) {
  if (trace_wanted < 0) {
    DWORD length = GetEnvironmentVariableA("ORN_TRACE", trace_name, sizeof trace_name);
    trace_wanted = length > 0 && length < sizeof trace_name;
  }
  return trace_wanted == 1;
}

// A console is a character device too, but has no line settings.
bool is_serial_port(HANDLE handle) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  return GetFileType(handle) == FILE_TYPE_CHAR && GetCommState(handle, &dcb);
}

void open_trace_file(void) {
  if (trace_file != INVALID_HANDLE_VALUE) return;
  trace_file = CreateFileA(trace_name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A device or a pipe there is not traced to, like a file that cannot be opened.
  if (trace_file != INVALID_HANDLE_VALUE && GetFileType(trace_file) != FILE_TYPE_DISK) {
    CloseHandle(trace_file);
    trace_file = INVALID_HANDLE_VALUE;
  }
}

// Times and line states count afresh from each open, as on the other side.
void start_trace(HANDLE port) {
  open_trace_file();
  AcquireSRWLockExclusive(&trace_lock);
  traced_port = port;
  QueryPerformanceFrequency(&ticks_per_second);
  QueryPerformanceCounter(&opened_at);
  traced_dtr = -1;
  traced_rts = -1;
  traced_line[0] = '\0';
  ReleaseSRWLockExclusive(&trace_lock);
}

// ---------------------------------------------------------------- settings

void trace_settings(const DCB &dcb) {
  int dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
  int rts = wire_trace_rts_on(dcb.fRtsControl);
  char line[32];
  wire_trace_line_settings(dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, line, sizeof line);
  AcquireSRWLockExclusive(&trace_lock);
  if (strcmp(line, traced_line) != 0) {
    trace("LINE", line);
    snprintf(traced_line, sizeof traced_line, "%s", line);
  }
  if (dtr != traced_dtr) trace("DTR", dtr ? "1" : "0");
  if (rts != traced_rts) trace("RTS", rts ? "1" : "0");
  traced_dtr = dtr;
  traced_rts = rts;
  ReleaseSRWLockExclusive(&trace_lock);
}

// ---------------------------------------------------------------- writes that complete later

// Takes the entry of a completed or refused write out of the table.
bool take_pending(LPOVERLAPPED request, PendingWrite *taken) {
  AcquireSRWLockExclusive(&trace_lock);
  bool found = false;
  for (PendingWrite &entry : pending_writes) {
    if (entry.request == request) {
      *taken = entry;
      entry.request = nullptr;
      found = true;
      break;
    }
  }
  ReleaseSRWLockExclusive(&trace_lock);
  return found;
}

bool keep_pending(LPOVERLAPPED request, const void *data, DWORD length,
                  LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  AcquireSRWLockExclusive(&trace_lock);
  bool kept = false;
  for (PendingWrite &entry : pending_writes) {
    if (entry.request == nullptr) {
      entry = {request, static_cast<const BYTE *>(data), length, completed};
      kept = true;
      break;
    }
  }
  ReleaseSRWLockExclusive(&trace_lock);
  return kept;
}

// Runs where the program's own routine would: the bytes are traced as their
// write completes, then the program hears of it.
void WINAPI write_completed(DWORD error, DWORD transferred, LPOVERLAPPED request) {
  PendingWrite write;
  if (!take_pending(request, &write)) return;  // cannot happen: only kept writes come here
  if (tracing(traced_port)) {
    DWORD saved = GetLastError();
    trace_bytes(write.data, transferred < write.length ? transferred : write.length);
    SetLastError(saved);
  }
  write.completed(error, transferred, request);
}

}  // namespace

// ---------------------------------------------------------------- what the port calls tell

void wire_trace_opened(HANDLE handle, DWORD access) {
  if (!(access & GENERIC_WRITE) || !trace_requested()) return;
  // The caller may look at the last error even on success (OPEN_ALWAYS).
  DWORD saved = GetLastError();
  if (is_serial_port(handle)) start_trace(handle);
  SetLastError(saved);
}

bool wire_trace_on(HANDLE handle) {
  return tracing(handle);
}

void wire_trace_written(HANDLE handle, const void *data, DWORD count) {
  if (!tracing(handle)) return;
  DWORD saved = GetLastError();
  trace_bytes(data, count);
  SetLastError(saved);
}

BOOL wire_trace_write_ex(HANDLE file, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                         LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  if (!keep_pending(overlapped, data, length, completed)) {
    // No room to wait for the completion: trace the bytes as they are queued.
    BOOL queued = WriteFileEx(file, data, length, overlapped, completed);
    if (queued) wire_trace_written(file, data, length);
    return queued;
  }
  BOOL queued = WriteFileEx(file, data, length, overlapped, write_completed);
  PendingWrite refused;
  if (!queued) {
    DWORD saved = GetLastError();
    take_pending(overlapped, &refused);  // a refused write never completes
    SetLastError(saved);
  }
  return queued;
}

void wire_trace_settings(HANDLE handle, const DCB &dcb) {
  if (!tracing(handle)) return;
  DWORD saved = GetLastError();
  trace_settings(dcb);
  SetLastError(saved);
}

void wire_trace_modem_status(HANDLE handle, BOOL done, const DWORD *status) {
  if (!tracing(handle)) return;
  DWORD saved = GetLastError();
  bool dsr = done && status != nullptr && (*status & MS_DSR_ON) != 0;
  trace("DSR", dsr ? "1" : "0");
  SetLastError(saved);
}
