// The Win32 serial calls on POSIX: opening by port name, and the handles of
// the device ports (platform/device_port.cpp), which do the rest. A name that
// a plugged-in device takes is its; any other is a tty (tty_device_posix.cpp).
// Queued reads and writes are in overlapped_posix.cpp.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/com_port_number.h"
#include "platform/device_port.h"
#include "platform/device_port_delivery.h"
#include "platform/platform.h"
#include "platform/posix/tty_device_posix.h"

namespace {

// Handles are small numbers well away from null, INVALID_HANDLE_VALUE and the
// console's handles, multiples of four as on Windows. Never reused, so a stale
// handle finds nothing.
const uintptr_t handle_base = 0x5e1000;
std::atomic<uintptr_t> handles_made{0};

SerialDevice *open_tty(const char *name) {
  char path[4096];
  if (serial_device_path(name, path, sizeof path) != 0) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  // Said only for a port that opened: a failed open keeps its one message.
  bool left_virtual = clock_leave_environment_virtual();
  SerialDevice *device = tty_device_open(path);
  if (device != nullptr && left_virtual) {
    fprintf(stderr, "ORN_VIRTUAL_CLOCK gilt nur f\x81r sim:, %s l\x84uft in Echtzeit.\n", name);
  }
  return device;
}

}  // namespace

// ---------------------------------------------------------------- names and handles

int serial_device_path(const char *name, char *path, size_t size) {
  // The device namespace prefix \\.\ is how Windows names ports above COM9.
  const char *port = strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
  unsigned number = com_port_name_number(port);
  int length = number > 0 ? snprintf(path, size, "/dev/ttyS%u", number - 1)
                          : snprintf(path, size, "%s", name);
  return length < 0 || (size_t)length >= size ? -1 : 0;
}

HANDLE device_port_new_handle(void) {
  return (HANDLE)(handle_base + 4 * handles_made++);
}

void device_port_free_handle(HANDLE) {}

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                   HANDLE) {
  // Only existing devices are opened, and always for this process alone.
  if (name == nullptr || creation != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool taken = false;
  HANDLE handle = device_port_open_registered(name, &taken);
  if (taken) return handle;
  SerialDevice *device = open_tty(name);
  return device == nullptr ? INVALID_HANDLE_VALUE : device_port_open(device);
}

BOOL CloseHandle(HANDLE handle) {
  return device_port_close(handle);
}

BOOL WriteFile(HANDLE handle, const void *buffer, DWORD length, LPDWORD written,
               LPOVERLAPPED overlapped) {
  return device_port_write(handle, buffer, length, written, overlapped);
}

// ---------------------------------------------------------------- settings and status

BOOL GetCommConfig(HANDLE handle, LPCOMMCONFIG config, LPDWORD size) {
  return device_port_get_config(handle, config, size);
}

BOOL SetCommConfig(HANDLE handle, LPCOMMCONFIG config, DWORD size) {
  return device_port_set_config(handle, config, size);
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  return device_port_set_timeouts(handle, timeouts);
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  return device_port_clear_error(handle, errors, status);
}

BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) {
  return device_port_modem_status(handle, status);
}
