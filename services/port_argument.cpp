// A port named by its adapter's serial number, and the port from the
// environment; the ports with a serial number come from each system's listing.
#include "services/port_argument.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "services/port_list.h"
#include "services/shown_text.h"

namespace {

const char USB_PREFIX[] = "usb:";
const size_t USB_PREFIX_LENGTH = sizeof USB_PREFIX - 1;
// As Windows numbers them.
const unsigned long NOT_FOUND = 2;
const unsigned long NOT_ONE = 87;

// "/dev/ttyUSB0 und /dev/ttyUSB1", or with more: "A, B und C".
std::string listed(const std::vector<std::string> &ports) {
  std::string text;
  for (size_t i = 0; i < ports.size(); i++) {
    if (i > 0) text += i + 1 == ports.size() ? " und " : ", ";
    text += shown_text(ports[i].c_str());
  }
  return text;
}

int refuse(unsigned long error, unsigned long *code, char *cause, size_t cause_size,
           const std::string &text) {
  *code = error;
  snprintf(cause, cause_size, "%s", text.c_str());
  return -1;
}

}  // namespace

const char *port_from_environment(const char *variable) {
  const char *port = getenv(variable);
  return port != nullptr && port[0] != '\0' ? port : nullptr;
}

bool names_usb_serial(const char *port) {
  // In any case, as COM names are taken.
  for (size_t i = 0; i < USB_PREFIX_LENGTH; i++) {
    if (tolower((unsigned char)port[i]) != USB_PREFIX[i]) return false;
  }
  return true;
}

int resolve_usb_port(const char *port, char *device, size_t device_size, unsigned long *code,
                     char *cause, size_t cause_size) {
  std::string serial = port + USB_PREFIX_LENGTH;
  // The user's text, shown, never obeyed.
  std::string shown = shown_text(serial.c_str());
  device[0] = '\0';
  if (serial.empty()) {
    return refuse(NOT_FOUND, code, cause, cause_size, "Seriennummer fehlt nach usb:");
  }
  std::vector<std::string> ports = ports_with_serial(serial);
  if (ports.empty()) {
    return refuse(NOT_FOUND, code, cause, cause_size,
                  "Kein USB-Adapter mit Seriennummer " + shown + " gefunden.");
  }
  if (ports.size() > 1) {
    return refuse(NOT_ONE, code, cause, cause_size,
                  "Mehrere Schnittstellen mit Seriennummer " + shown + ": " + listed(ports) +
                      " (eine davon angeben).");
  }
  if (ports[0].size() >= device_size) {
    return refuse(NOT_ONE, code, cause, cause_size,
                  "Der Name ist zu lang: " + shown_text(ports[0].c_str()));
  }
  memcpy(device, ports[0].c_str(), ports[0].size() + 1);
  return 0;
}
