// A serial device as the port calls see it: a real tty, a pseudo-terminal, or a
// device that a name's prefix plugs in (the virtual receiver behind "sim:").
// Both builds use it: on POSIX every serial port has one, on Windows only the
// plugged-in ones (platform/device_port.h).
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

// Opens the device behind a port name. Returns null and sets *error to a
// Win32 code on failure.
typedef SerialDevice *(*SerialDeviceOpener)(const char *name, DWORD *error);

// From now on a port name that begins with prefix is opened by open, not as a
// device of the system. Called at start-up by whoever plugs a device in
// (virtual_receiver_plug_in()); prefix must stay valid.
void serial_device_register(const char *prefix, SerialDeviceOpener open);
// The opener registered for name's prefix, or null.
SerialDeviceOpener serial_device_opener(const char *name);

// The device behind a port handle (platform/device_port.h), or null for any
// other handle. The pointer stays valid until CloseHandle.
SerialDevice *serial_device_of(HANDLE handle);
// The settings a freshly opened port reports: 9600 baud 8N1, binary, DTR and RTS
// asserted, no flow control.
DCB serial_default_dcb(void);
