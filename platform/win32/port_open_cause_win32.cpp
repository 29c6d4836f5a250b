// Why a port did not open on Windows: FormatMessageA's text. A COM port that
// another program holds answers "access denied", which is its usual cause.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/port_open_cause.h"

void describe_system_error(unsigned long code, char *text, size_t text_size) {
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     (DWORD)code, 0, text, (DWORD)text_size, nullptr) == 0) {
    snprintf(text, text_size, "Error %lu", code);
  }
  text[strcspn(text, "\r\n")] = '\0';
}

void describe_port_open_failure(unsigned long code, char *text, size_t text_size, char *advice,
                                size_t advice_size) {
  describe_system_error(code, text, text_size);
  advice[0] = '\0';
  if (code == ERROR_ACCESS_DENIED) {
    snprintf(advice, advice_size,
             "Die Schnittstelle ist belegt: ein anderes Programm hat sie offen.");
  }
}
