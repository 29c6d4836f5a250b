// One line of the new file (see file_replace.h), formatted the same on both
// builds; each platform writes it its own way (replacement_write_line).
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "services/file_replace.h"

int replacement_line(int worth_keeping, const char *format, ...) {
  char line[4096];
  va_list arguments;
  va_start(arguments, format);
  int length = vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (length < 0 || (size_t)length >= sizeof line) {
    errno = EINVAL;
    return -1;
  }
  return replacement_write_line(line, (size_t)length, worth_keeping);
}
