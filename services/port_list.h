// The serial ports present on this machine, for `--ports` of both programs.
// Listing never opens a port: opening raises DTR, and DTR resets a receiver.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Prints one line per serial port to out: the name to give as the port
// argument, then what identifies the port, its controls shown (shown_text),
// and for a USB adapter whose driver says so, its latency timer
// (port_latency_text). Returns the number of ports.
// On Linux the ports come from sysfs under the folder that the environment
// variable ORN_PORTS_ROOT names (default "/"), so that tests can give a tree.
int print_serial_ports(FILE *out);

// An adapter's latency timer as the listing shows it: "Latenz 1 ms", and above
// 1 ms "Latenz 16 ms (zu hoch: auf 1 ms stellen)". Empty for a value outside
// 0..255 (the timer's range), which the system did not mean.
std::string port_latency_text(long ms);

// The ports of the USB adapters whose serial number is serial (compared in
// any case), as the name to open them by, in the listing's order: on Linux
// ORN_PORTS_ROOT/dev/ttyUSB0 (the root as for the listing), on Windows
// \\.\COM5. An adapter with two ports gives both.
std::vector<std::string> ports_with_serial(const std::string &serial);

// Reads a Windows device instance ID: true when it names a USB device (not one
// of a composite device's interfaces, "&MI_"), with serial set to the serial
// number it holds ("A50285BI" of USB\VID_0403&PID_6001\A50285BI), or empty
// where Windows made up the last part ("5&2a4b3c&0&1"). False for any other ID.
bool usb_instance_serial(const char *id, std::string *serial);
