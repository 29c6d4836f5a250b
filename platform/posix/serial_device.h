// What the POSIX stand-in's serial calls need from a device: a real tty, a
// pseudo-terminal or the virtual receiver. Internal to platform/ and
// virtual_receiver/. The Windows build drives the virtual receiver through the
// same interface (platform/win32/sim_port_win32.cpp).
#pragma once

#include "platform/platform.h"

struct SerialDevice {
  virtual ~SerialDevice() = default;
  // Applies line settings, flow control and DTR/RTS from dcb. Returns a Win32 code.
  virtual DWORD apply(const DCB &dcb) = 0;
  // Sends the bytes; returns once they have left the port. Returns a Win32 code.
  virtual DWORD write(const BYTE *data, DWORD length, DWORD *written) = 0;
  // Waits for at least one byte, then for more until interval_ms pass without a
  // byte or length bytes have arrived. Returns a Win32 code; ERROR_OPERATION_ABORTED
  // when cancel_reads() was called.
  virtual DWORD read(BYTE *buffer, DWORD length, DWORD interval_ms, DWORD *got) = 0;
  // Wakes every read in progress with ERROR_OPERATION_ABORTED (on close).
  virtual void cancel_reads() = 0;
  // The modem status bits (MS_DSR_ON ...). Returns a Win32 code.
  virtual DWORD modem_status(DWORD *status) = 0;
  // Clears a pending line error. Returns a Win32 code.
  virtual DWORD clear_error(DWORD *errors) = 0;
};

// Opens the virtual receiver behind a "sim:" name (virtual_receiver/).
// Returns null and sets *error to a Win32 code on failure.
SerialDevice *virtual_receiver_open_device(const char *name, DWORD *error);

// The device behind a handle that CreateFileA opened, or null for any other
// handle. The pointer stays valid until CloseHandle.
SerialDevice *serial_device_of(HANDLE handle);
// The device path for a port name: "COMn" (n from 1, any case, also as
// "\\.\COMn") is /dev/ttyS<n-1>; every other name is the path itself.
// Returns 0, or -1 when the path does not fit in size bytes.
int serial_device_path(const char *name, char *path, size_t size);
// The settings a freshly opened port reports: 9600 baud 8N1, binary, DTR and RTS
// asserted, no flow control.
DCB serial_default_dcb(void);
// The Win32 code for an errno value (ENOENT 2, EACCES/EBUSY 5, EIO 31, ...).
DWORD win32_error_from_errno(int error);
// SetLastError with the code for error; FormatMessageA then also names the errno.
void set_last_error_from_errno(int error);
