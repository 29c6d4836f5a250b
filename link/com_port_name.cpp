// Ports from COM10 up: the forms a user types for them, and the device name
// that opens them.
#include <cstring>

#include "link/serial_port.h"
#include "platform/com_port_number.h"

unsigned com_port_number(const char *port) {
  // "COM3" worked as it stands and keeps its name in the messages.
  unsigned number = com_port_name_number(port);
  if (number > 0) return number >= 10 ? number : 0;
  // A single digit is the old form, "COM<digit>", formed elsewhere.
  return strlen(port) >= 2 ? com_port_digits(port) : 0;
}
