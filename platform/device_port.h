// Serial ports over a SerialDevice, the same on both builds: the handle table,
// the settings last applied and the timeouts, and the Win32 port calls on
// them. On POSIX they are the stand-in's serial calls for every port; on
// Windows the wire trace shim hands them the calls on a plugged-in device's
// handle. Reads wait on one thread per port; how a completion routine reaches
// the thread that queued it is each platform's own (device_port_delivery.h).
// Internal to platform/.
#pragma once

#include "platform/serial_device.h"

// Opens name when a device is registered for its prefix, and says so in
// *taken. Returns the handle, or INVALID_HANDLE_VALUE with the last error set.
HANDLE device_port_open_registered(const char *name, bool *taken);
// A port for an open device, which it owns from now on. Returns the handle, or
// INVALID_HANDLE_VALUE with the last error set (the device is then deleted).
HANDLE device_port_open(SerialDevice *device);
// Whether handle is a device port's.
bool device_port_handle(HANDLE handle);

// Pending reads end with ERROR_OPERATION_ABORTED; the device goes when the
// last call still using it returns.
BOOL device_port_close(HANDLE handle);
BOOL device_port_write(HANDLE handle, const void *data, DWORD length, LPDWORD written,
                       LPOVERLAPPED overlapped);
BOOL device_port_get_config(HANDLE handle, LPCOMMCONFIG config, LPDWORD size);
BOOL device_port_set_config(HANDLE handle, LPCOMMCONFIG config, DWORD size);
BOOL device_port_set_timeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);
BOOL device_port_clear_error(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
BOOL device_port_modem_status(HANDLE handle, LPDWORD status);
// The bytes go out at once on this thread (a write returns only once they have
// left anyway); the routine runs in the thread's next alertable wait.
BOOL device_port_write_ex(HANDLE handle, const void *data, DWORD length, LPOVERLAPPED overlapped,
                          LPOVERLAPPED_COMPLETION_ROUTINE completed);
// Queued for the port's read thread; returns at once.
BOOL device_port_read_ex(HANDLE handle, void *data, DWORD length, LPOVERLAPPED overlapped,
                         LPOVERLAPPED_COMPLETION_ROUTINE completed);
