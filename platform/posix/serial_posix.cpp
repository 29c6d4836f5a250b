// The Win32 serial calls on POSIX: the handle table, opening by port name, and
// the settings, status and synchronous write calls. The devices themselves are
// in tty_device_posix.cpp and virtual_receiver/; queued reads and writes in
// overlapped_posix.cpp.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/posix/serial_handle.h"

namespace {

// Handles are small numbers well away from null, INVALID_HANDLE_VALUE and the
// console's handles, multiples of four as on Windows.
const uintptr_t handle_base = 0x5e1000;

struct HandleTable {
  std::mutex lock;
  // Slots are never reused, so a stale handle finds nothing.
  std::vector<std::shared_ptr<SerialPort>> ports;
};

// Never destroyed: a reader may still wait on a port while the process exits.
HandleTable &handle_table() {
  static HandleTable *table = new HandleTable;
  return *table;
}

std::shared_ptr<SerialPort> find_port(HANDLE handle) {
  uintptr_t value = (uintptr_t)handle;
  if (value < handle_base || (value - handle_base) % 4 != 0) return nullptr;
  size_t index = (value - handle_base) / 4;
  HandleTable &table = handle_table();
  std::lock_guard<std::mutex> hold(table.lock);
  return index < table.ports.size() ? table.ports[index] : nullptr;
}

HANDLE add_port(const std::shared_ptr<SerialPort> &port) {
  HandleTable &table = handle_table();
  std::lock_guard<std::mutex> hold(table.lock);
  table.ports.push_back(port);
  return (HANDLE)(handle_base + 4 * (table.ports.size() - 1));
}

std::shared_ptr<SerialPort> remove_port(HANDLE handle) {
  std::shared_ptr<SerialPort> port = find_port(handle);
  if (port == nullptr) return nullptr;
  HandleTable &table = handle_table();
  std::lock_guard<std::mutex> hold(table.lock);
  table.ports[((uintptr_t)handle - handle_base) / 4].reset();
  return port;
}

// "COM1" to "COM256" (any case, no leading zero): the port number.
bool com_number(const char *name, unsigned *number) {
  if (strncasecmp(name, "COM", 3) != 0) return false;
  const char *digits = name + 3;
  size_t count = strlen(digits);
  if (count == 0 || count > 3 || digits[0] == '0') return false;
  for (size_t i = 0; i < count; i++) {
    if (!isdigit((unsigned char)digits[i])) return false;
  }
  *number = (unsigned)atoi(digits);
  return *number <= 256;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

SerialDevice *open_device(const char *name) {
  if (strncmp(name, "sim:", 4) == 0) {
    DWORD error = ERROR_GEN_FAILURE;
    SerialDevice *device = virtual_receiver_open_device(name, &error);
    if (device == nullptr) SetLastError(error);
    return device;
  }
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
  unsigned number;
  int length = com_number(port, &number) ? snprintf(path, size, "/dev/ttyS%u", number - 1)
                                         : snprintf(path, size, "%s", name);
  return length < 0 || (size_t)length >= size ? -1 : 0;
}

DCB serial_default_dcb(void) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

std::shared_ptr<SerialPort> serial_port_of(HANDLE handle) {
  std::shared_ptr<SerialPort> port = find_port(handle);
  if (port == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

SerialDevice *serial_device_of(HANDLE handle) {
  std::shared_ptr<SerialPort> port = find_port(handle);
  return port == nullptr ? nullptr : port->device;
}

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                   HANDLE) {
  // Only existing devices are opened, and always for this process alone.
  if (name == nullptr || creation != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  SerialDevice *device = open_device(name);
  if (device == nullptr) return INVALID_HANDLE_VALUE;
  std::shared_ptr<SerialPort> port = std::make_shared<SerialPort>();
  port->device = device;
  port->dcb = serial_default_dcb();
  HANDLE handle = add_port(port);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<SerialPort> port = remove_port(handle);
  if (port == nullptr) return fail(ERROR_INVALID_HANDLE);
  // Pending reads end with ERROR_OPERATION_ABORTED; the device goes when the
  // last call still using it returns.
  overlapped_close_port(*port);
  return TRUE;
}

BOOL WriteFile(HANDLE handle, const void *buffer, DWORD length, LPDWORD written,
               LPOVERLAPPED overlapped) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return FALSE;
  if (written != nullptr) *written = 0;
  if (buffer == nullptr && length > 0) return fail(ERROR_INVALID_PARAMETER);
  DWORD count = 0;
  DWORD error = port->device->write(static_cast<const BYTE *>(buffer), length, &count);
  if (written != nullptr) *written = count;
  if (overlapped != nullptr) {
    overlapped->Internal = error;
    overlapped->InternalHigh = count;
  }
  return error == ERROR_SUCCESS ? TRUE : fail(error);
}

// ---------------------------------------------------------------- settings and status

BOOL GetCommConfig(HANDLE handle, LPCOMMCONFIG config, LPDWORD size) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return FALSE;
  if (size == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (config == nullptr || *size < sizeof(COMMCONFIG)) {
    *size = sizeof(COMMCONFIG);
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memset(config, 0, sizeof(COMMCONFIG));
  config->dwSize = sizeof(COMMCONFIG);
  config->wVersion = 1;
  config->dwProviderSubType = 1;  // PST_RS232
  std::lock_guard<std::mutex> hold(port->lock);
  config->dcb = port->dcb;
  *size = sizeof(COMMCONFIG);
  return TRUE;
}

BOOL SetCommConfig(HANDLE handle, LPCOMMCONFIG config, DWORD size) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return FALSE;
  if (config == nullptr || size < offsetof(COMMCONFIG, dcb) + sizeof(DCB)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  DCB dcb = config->dcb;
  dcb.DCBlength = sizeof(DCB);
  DWORD error = port->device->apply(dcb);
  if (error != ERROR_SUCCESS) return fail(error);
  std::lock_guard<std::mutex> hold(port->lock);
  port->dcb = dcb;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) return fail(ERROR_INVALID_PARAMETER);
  // Reads queued from now on take the new interval.
  std::lock_guard<std::mutex> hold(port->lock);
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return FALSE;
  DWORD flags = 0;
  DWORD error = port->device->clear_error(&flags);
  if (errors != nullptr) *errors = flags;
  if (status != nullptr) memset(status, 0, sizeof(COMSTAT));
  return error == ERROR_SUCCESS ? TRUE : fail(error);
}

BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return FALSE;
  if (status == nullptr) return fail(ERROR_INVALID_PARAMETER);
  DWORD error = port->device->modem_status(status);
  return error == ERROR_SUCCESS ? TRUE : fail(error);
}
