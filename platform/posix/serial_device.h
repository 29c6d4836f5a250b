// What the POSIX stand-in's serial calls need from a device: a real tty, a
// pseudo-terminal or the virtual receiver. Internal to platform/ and
// virtual_receiver/.
#pragma once

#include "win32_stand_in.h"

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
