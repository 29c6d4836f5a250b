// Real serial devices and pseudo-terminals behind the POSIX stand-in, and the
// errno side of its error codes. Internal to platform/posix/.
#pragma once

#include <termios.h>

#include "platform/serial_device.h"

struct serial_struct;

// Opens a tty or pseudo-terminal by path, exclusively, in raw mode with the
// default settings. Returns null and sets the last error on failure.
SerialDevice *tty_device_open(const char *path);
// Turns line settings into raw-mode termios settings, keeping the fields the
// settings do not speak of. Returns ERROR_INVALID_PARAMETER for settings no
// tty can take (unknown baud rate, byte size outside 5..8, ...).
DWORD serial_termios_from_dcb(const DCB &dcb, termios *t);
// The device path for a port name: "COMn" (n from 1, any case, also as
// "\\.\COMn") is /dev/ttyS<n-1>; every other name is the path itself.
// Returns 0, or -1 when the path does not fit in size bytes.
int serial_device_path(const char *name, char *path, size_t size);

// The Win32 code for an errno value (ENOENT 2, EACCES/EBUSY 5, EIO 31, ...).
DWORD win32_error_from_errno(int error);
// SetLastError with the code for error; FormatMessageA then also names the errno.
void set_last_error_from_errno(int error);

// The serial information ioctl (TIOCGSERIAL, TIOCSSERIAL) as the low latency
// calls make it: ioctl itself for a device, a stand-in in tests. It must be
// async-signal-safe: it also runs when a signal ends the process.
typedef int (*serial_info_call)(int fd, unsigned long request, serial_struct *info);
// Asks the driver of the tty at fd for low latency (ASYNC_LOW_LATENCY, which
// ftdi_sio turns into a 1 ms latency timer) and remembers the flags it read,
// to be put back by tty_low_latency_end, at exit, or when a signal ends the
// process. Returns the change's number, or -1 when nothing was changed: the
// flag was already set, or the driver refused (a pseudo-terminal, no right to
// change it). Says nothing either way.
int tty_low_latency_begin(int fd, serial_info_call call);
// Puts back the flags that change (from tty_low_latency_begin; -1: none) found.
void tty_low_latency_end(int change);
