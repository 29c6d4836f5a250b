// A port text as the user typed it, and the device name that opens it: a
// single character n names COMn, ports from COM10 up take the form the system
// needs for them, and any other text is the device name itself.
#pragma once

#include <cstddef>

// Room for a device name, its terminating zero included.
#define DEVICE_NAME_SIZE 100

#ifdef _WIN32
#define COM_PORT_FORMAT "\\\\.\\COM%u"
#else
// The stand-in maps COMn to /dev/ttyS<n-1>.
#define COM_PORT_FORMAT "COM%u"
#endif

// Forms the device name for a port text into name (size bytes). Returns 0, or
// -1 when it does not fit (name is then empty). One character n names COMn; a
// port from COM10 up (a number, or COMn in any case) names \\.\COMn on
// Windows, which CreateFileA needs for it, and "COMn" elsewhere.
int form_device_name(const char *port, char *name, size_t size);
// The n of a port text that names COMn from COM10 up: a whole number of two or
// more digits ("12"), or "COMn" in any case with n from 10; 0 for any other.
unsigned high_com_port_number(const char *port);
