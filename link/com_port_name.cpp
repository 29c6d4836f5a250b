// Ports from COM10 up: the forms a user types for them, and the device name
// that opens them.
#include <cstdio>
#include <cstring>

#include "link/com_port_name.h"
#include "platform/com_port_number.h"

unsigned high_com_port_number(const char *port) {
  // "COM3" worked as it stands and keeps its name in the messages.
  unsigned number = com_port_name_number(port);
  if (number > 0) return number >= 10 ? number : 0;
  // A single digit is the old form, "COM<digit>", formed elsewhere.
  return strlen(port) >= 2 ? com_port_digits(port) : 0;
}

int form_device_name(const char *port, char *name, size_t size) {
  unsigned number = high_com_port_number(port);
  int needed = strlen(port) == 1 ? snprintf(name, size, "COM%s", port)
               : number > 0      ? snprintf(name, size, COM_PORT_FORMAT, number)
                                 : snprintf(name, size, "%s", port);
  if (needed < 0 || (size_t)needed >= size) {
    if (size > 0) name[0] = '\0';
    return -1;
  }
  return 0;
}
