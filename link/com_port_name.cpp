// Ports from COM10 up: the forms a user types for them, and the device name
// that opens them.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "link/serial_port.h"

namespace {
const unsigned HIGHEST_COM_PORT = 256;

// Digits only, at least one, no leading zero; the number, or 0.
unsigned number_of(const char *digits) {
  size_t count = strlen(digits);
  if (count == 0 || count > 3 || digits[0] == '0') return 0;
  for (size_t i = 0; i < count; i++) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
  }
  unsigned number = (unsigned)atoi(digits);
  return number <= HIGHEST_COM_PORT ? number : 0;
}
}  // namespace

unsigned com_port_number(const char *port) {
  // "COM3" worked as it stands and keeps its name in the messages.
  if (toupper((unsigned char)port[0]) == 'C' && toupper((unsigned char)port[1]) == 'O' &&
      toupper((unsigned char)port[2]) == 'M') {
    unsigned number = number_of(port + 3);
    return number >= 10 ? number : 0;
  }
  // A single digit is the old form, "COM<digit>", formed elsewhere.
  return strlen(port) >= 2 ? number_of(port) : 0;
}
