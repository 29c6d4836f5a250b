// The command line: banner, usage, the port argument with its reset prefix, and
// the information asked for with --help or --version.
#include <getopt.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "services/shown_text.h"
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

namespace {

const struct option long_options[] = {{"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {"ports", no_argument, nullptr, 'P'},
                                      {"check", no_argument, nullptr, 'C'},
                                      {nullptr, 0, nullptr, 0}};

// A positional: no leading '-', "-" alone, or a negative port number (-3 is
// the port COM-3, as the port argument reads it).
bool is_positional(const char *argument) {
  return argument[0] != '-' || argument[1] == '\0' || (argument[1] >= '0' && argument[1] <= '9');
}

// Moves argument i to the end of the positionals gathered so far.
void keep_positional(char **argv, int *count, int i) {
  char *argument = argv[i];
  for (int j = i; j > *count; j--) argv[j] = argv[j - 1];
  argv[(*count)++] = argument;
}

// The request an option makes; a later --help outranks --version, --ports
// outranks both, and a wrong option everything.
int request_of(int option, int request) {
  if (option == 'P') return request == REQUEST_BAD_OPTION ? request : REQUEST_PORTS;
  if (option == 'h' || (option == '?' && optopt == '?')) {
    return request == REQUEST_RUN || request == REQUEST_VERSION ? REQUEST_HELP : request;
  }
  if (option == 'V') return request == REQUEST_RUN ? REQUEST_VERSION : request;
  if (option == 'C') {
    check_requested = 1;
    return request;
  }
  return REQUEST_BAD_OPTION;
}

// element: the argument getopt_long was looking at.
void note_bad_option(const char *element) {
  if (!bad_option.empty()) return;
  bad_option =
      strncmp(element, "--", 2) == 0 ? std::string(element) : std::string("-") + (char)optopt;
}

}  // namespace

std::string bad_option;
int check_requested = 0;

// As tarvel does it: "+" stops getopt_long at each positional on every C
// library, which is put aside, and the scan goes on after it.
int take_updater_options(int *argc, char **argv) {
  int count = 1, request = REQUEST_RUN;
  bad_option.clear();
  check_requested = 0;
  opterr = 0;
  optind = 0;  // every getopt starts afresh; with no argument it only resets
  getopt_long(1, argv, "+", long_options, nullptr);
  optind = 1;
  while (optind < *argc) {
    if (strcmp(argv[optind], "--") == 0) {
      for (int i = optind + 1; i < *argc; i++) keep_positional(argv, &count, i);
      break;
    }
    if (is_positional(argv[optind])) {
      if (strcmp(argv[optind], "/?") == 0) request = request_of('h', request);
      keep_positional(argv, &count, optind++);
      continue;
    }
    const char *element = argv[optind];
    int option = getopt_long(*argc, argv, "+hV", long_options, nullptr);
    if (option == -1) break;
    request = request_of(option, request);
    if (request == REQUEST_BAD_OPTION) note_bad_option(element);
  }
  *argc = count;
  return request;
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

void print_bad_option(void) {
  fprintf(stderr, "morrex: unbekannte Option: %s (morrex --help zeigt die Optionen)\n",
          shown_text(bad_option.c_str()).c_str());
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
      "                Ein Name mit / oder : ist ein Ger\x84t (/dev/ttyUSB0, sim:DIR);\n"
      "                usb:SERIAL ist der USB-Adapter mit dieser Seriennummer\n"
      "                (morrex --ports zeigt sie), gleich in welcher Buchse.\n"
      "  Programmfile  die Programmdatei (CPU-Kennung, Handshake-Byte, Records)\n"
      "  --ports       zeigt die vorhandenen seriellen Schnittstellen und endet\n"
      "  --check       pr\x81"
      "ft nur die Programmdatei wie ein Update (CPU-Kennung, Records,\n"
      "                Endrecord, Gr\x94\xe1"
      "e), zeigt CPU, Seitengr\x94\xe1"
      "e, Seiten und Dauer;\n"
      "                \x94"
      "ffnet keine Schnittstelle: morrex --check [COMx] Programmfile\n"
      "  -h, --help    zeigt diese Hilfe und endet (auch -? und /?)\n"
      "  -V, --version zeigt die Version und endet\n"
      "  MORREX_PORT   die Schnittstelle, wenn der Aufruf nur die Programmdatei nennt\n"
      "                Optionen stehen vor oder nach den Argumenten; -- beendet sie.\n\n"
      "Exit-Codes: 0 fertig, 1 Schnittstelle, 2 Programmdatei nicht lesbar,\n"
      "            3 CPU-Kennung, 4 und 5 Programmdatei fehlerhaft, 9 Aufruf\n\n"
      "Version 1.1, 11.1.2005\n");
}
