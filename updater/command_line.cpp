// The command line: banner, usage, the port argument with its reset prefix, and
// the information asked for with --help or --version.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "updater/updater.h"

ResetMode reset_mode = FULL_RESET;
int reset_wait = 10000;
int port_number = 0;
std::string port_device;
std::string port_name;

namespace {

const int FULL_RESET_WAIT = 10000;
const int SHORT_RESET_WAIT = 2000;

// The number as atoi reads it (white space, sign, digits up to the first other
// character, none giving 0), but a number too large for an int is held at the
// nearest limit instead of being undefined.
int number_of(const char *text) {
  long value = strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return (int)value;
}

// A name with a path or a scheme in it is a device, such as /dev/ttyUSB0 or the
// virtual receiver's sim:DIR; a bare number is a COM port.
int is_device_name(const char *text) {
  return strchr(text, '/') != nullptr || strchr(text, ':') != nullptr;
}

}  // namespace

void take_port_argument(const char *argument) {
  const char *rest = argument;
  reset_mode = FULL_RESET;
  reset_wait = FULL_RESET_WAIT;
  if (argument[0] == 'r') {
    reset_mode = NO_RESET;
    reset_wait = 0;
    rest = argument + 1;
  } else if (argument[0] == 'x') {
    reset_mode = SHORT_RESET;
    reset_wait = SHORT_RESET_WAIT;
    rest = argument + 1;
  }
  port_number = 0;
  port_device.clear();
  if (is_device_name(rest)) {
    port_device = rest;
    port_name = port_device;
  } else {
    port_number = number_of(rest);
    char name[32];
    snprintf(name, sizeof name, "COM%d", port_number);
    port_name = name;
  }
}

int is_information_request(const char *argument) {
  return strcmp(argument, "--help") == 0 || strcmp(argument, "--version") == 0;
}

void print_banner(void) {
  updater_print("Update Amtel-Flash Version 1.1, 11.1.2005\n");
}

void print_usage(void) {
  updater_print("Usage: morrex COMx Programmfile\n");
}

void print_version(void) {
  updater_print("morrex %s\n", PROJECT_VERSION_TEXT);
}

void print_information(void) {
  updater_print(
      "morrex schreibt eine neue Firmware aus einer Programmdatei in den Flash-Speicher\n"
      "des Empf\x84ngers, \x81"
      "ber die serielle Schnittstelle (38400 Baud, 8N1).\n\n");
  print_usage();
  updater_print(
      "  COMx          Nummer der Schnittstelle (3 f\x81r COM3); davor wahlweise\n"
      "                x (kurzer Reset, 2 Sekunden) oder r (ohne Reset).\n"
      "                Ein Name mit / oder : ist ein Ger\x84t (/dev/ttyUSB0, sim:DIR).\n"
      "  Programmfile  die Programmdatei (CPU-Kennung, Handshake-Byte, Records)\n"
      "  --ports       zeigt die vorhandenen seriellen Schnittstellen und endet\n\n"
      "Exit-Codes: 0 fertig, 1 Schnittstelle, 2 Programmdatei nicht lesbar,\n"
      "            3 CPU-Kennung, 4 und 5 Programmdatei fehlerhaft, 9 Aufruf\n\n"
      "Version 1.1, 11.1.2005\n");
}
