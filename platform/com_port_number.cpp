#include "platform/com_port_number.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {
const unsigned HIGHEST_COM_PORT = 256;
}

unsigned com_port_digits(const char *digits) {
  size_t count = strlen(digits);
  if (count == 0 || count > 3 || digits[0] == '0') return 0;
  for (size_t i = 0; i < count; i++) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
  }
  unsigned number = (unsigned)atoi(digits);
  return number <= HIGHEST_COM_PORT ? number : 0;
}

unsigned com_port_name_number(const char *name) {
  bool com = toupper((unsigned char)name[0]) == 'C' && toupper((unsigned char)name[1]) == 'O' &&
             toupper((unsigned char)name[2]) == 'M';
  return com ? com_port_digits(name + 3) : 0;
}
