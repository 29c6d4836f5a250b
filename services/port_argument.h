// The port as a user names it: by what the adapter is ("usb:SERIAL", the
// serial number that --ports shows), which stays the same in every USB socket,
// or from an environment variable when the command line names none. Both
// programs resolve it here, before they open the port.
#pragma once

#include <cstddef>

// The port that the environment variable names (TARVEL_PORT, MORREX_PORT), or
// a null pointer when it is unset or empty.
const char *port_from_environment(const char *variable);

// True when port names an adapter by its serial number: "usb:SERIAL" (the
// prefix in any case).
bool names_usb_serial(const char *port);

// The name to open for a port "usb:SERIAL" into device (size bytes): that of
// the one USB adapter whose serial number is SERIAL (any case). Returns 0; or
// -1 with the error code in *code (2: no such adapter; 87: more than one, or
// its name too long) and the cause in words, naming the ports it found, in
// cause.
int resolve_usb_port(const char *port, char *device, size_t device_size, unsigned long *code,
                     char *cause, size_t cause_size);
