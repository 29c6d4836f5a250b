// The serial ports present on this machine, for `--ports` of both programs.
// Listing never opens a port: opening raises DTR, and DTR resets a receiver.
#pragma once

#include <cstdio>

// Prints one line per serial port to out: the name to give as the port
// argument, then what identifies the port, its controls shown (shown_text).
// Returns the number of ports.
// On Linux the ports come from sysfs under the folder that the environment
// variable ORN_PORTS_ROOT names (default "/"), so that tests can give a tree.
int print_serial_ports(FILE *out);
