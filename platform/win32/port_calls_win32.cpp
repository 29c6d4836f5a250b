// The port calls on Windows (see port_calls_win32.h): a device port's handle
// goes to the device, every other one to Windows, and the trace hears what
// reached a real port.
#define PORT_CALLS_WIN32_IMPLEMENTATION
#include "platform/win32/port_calls_win32.h"

#include "platform/device_port.h"
#include "platform/win32/wire_trace_win32.h"

// ---------------------------------------------------------------- calls the trace hears of

HANDLE port_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                        DWORD disposition, DWORD flags, HANDLE template_file) {
  bool taken = false;
  HANDLE device_port = device_port_open_registered(name, &taken);
  if (taken) return device_port;
  HANDLE handle = CreateFileA(name, access, share, security, disposition, flags, template_file);
  if (handle != INVALID_HANDLE_VALUE) wire_trace_opened(handle, access);
  return handle;
}

// A write still pending on an overlapped handle is not traced: its completion
// is learnt elsewhere. Neither program writes that way.
BOOL port_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                    LPOVERLAPPED overlapped) {
  if (device_port_handle(file)) return device_port_write(file, data, length, written, overlapped);
  BOOL done = WriteFile(file, data, length, written, overlapped);
  if (!done || !wire_trace_on(file)) return done;
  DWORD saved = GetLastError();
  DWORD count = 0;
  if (written != nullptr) {
    count = *written;
  } else if (overlapped != nullptr) {
    GetOverlappedResult(file, overlapped, &count, FALSE);
  }
  SetLastError(saved);
  wire_trace_written(file, data, count < length ? count : length);
  return done;
}

BOOL port_WriteFileEx(HANDLE file, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                      LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  if (device_port_handle(file)) {
    return device_port_write_ex(file, data, length, overlapped, completed);
  }
  if (!wire_trace_on(file) || overlapped == nullptr || completed == nullptr) {
    return WriteFileEx(file, data, length, overlapped, completed);
  }
  return wire_trace_write_ex(file, data, length, overlapped, completed);
}

BOOL port_SetCommConfig(HANDLE port, LPCOMMCONFIG config, DWORD size) {
  if (device_port_handle(port)) return device_port_set_config(port, config, size);
  BOOL done = SetCommConfig(port, config, size);
  if (done && config != nullptr) wire_trace_settings(port, config->dcb);
  return done;
}

BOOL port_GetCommModemStatus(HANDLE port, LPDWORD status) {
  if (device_port_handle(port)) return device_port_modem_status(port, status);
  BOOL done = GetCommModemStatus(port, status);
  wire_trace_modem_status(port, done, status);
  return done;
}

// ---------------------------------------------------------------- calls only a device port needs

BOOL port_ReadFileEx(HANDLE file, LPVOID data, DWORD length, LPOVERLAPPED overlapped,
                     LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  return device_port_handle(file) ? device_port_read_ex(file, data, length, overlapped, completed)
                                  : ReadFileEx(file, data, length, overlapped, completed);
}

BOOL port_GetCommConfig(HANDLE port, LPCOMMCONFIG config, LPDWORD size) {
  return device_port_handle(port) ? device_port_get_config(port, config, size)
                                  : GetCommConfig(port, config, size);
}

BOOL port_SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
  return device_port_handle(port) ? device_port_set_timeouts(port, timeouts)
                                  : SetCommTimeouts(port, timeouts);
}

BOOL port_ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status) {
  return device_port_handle(port) ? device_port_clear_error(port, errors, status)
                                  : ClearCommError(port, errors, status);
}

BOOL port_CloseHandle(HANDLE handle) {
  return device_port_handle(handle) ? device_port_close(handle) : CloseHandle(handle);
}
