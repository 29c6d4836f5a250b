#include "platform/wire_trace_text.h"

#include <cstdio>

int wire_trace_lines(char *text, size_t size, long long at_us, const char *event,
                     const char *const *values, int count) {
  size_t used = 0;
  if (size > 0) text[0] = '\0';
  for (int i = 0; i < count; i++) {
    int length = snprintf(text + used, size - used, "%lld %s %s\n", at_us, event, values[i]);
    if (length < 0 || (size_t)length >= size - used) {
      text[used] = '\0';
      break;
    }
    used += (size_t)length;
  }
  return (int)used;
}

void wire_trace_bytes(const unsigned char *data, unsigned long length,
                      void (*emit)(void *context, const char *const *values, int count),
                      void *context) {
  char hex[WIRE_TRACE_BATCH][3];
  const char *values[WIRE_TRACE_BATCH];
  for (unsigned long start = 0; start < length; start += WIRE_TRACE_BATCH) {
    int count = 0;
    for (unsigned long i = start; i < length && count < WIRE_TRACE_BATCH; i++, count++) {
      snprintf(hex[count], sizeof hex[count], "%02X", data[i]);
      values[count] = hex[count];
    }
    emit(context, values, count);
  }
}

void wire_trace_line_settings(unsigned long baud, unsigned byte_size, unsigned parity,
                              unsigned stop_bits, char *text, size_t size) {
  static const char parity_letters[] = "NOEMS";
  static const char *const stop_texts[] = {"1", "1.5", "2"};
  char letter = parity < 5 ? parity_letters[parity] : '?';
  const char *stop = stop_bits < 3 ? stop_texts[stop_bits] : "?";
  snprintf(text, size, "%lu %u%c%s", baud, byte_size, letter, stop);
}

bool wire_trace_rts_on(unsigned rts_control) {
  // RTS_CONTROL_ENABLE 1, RTS_CONTROL_HANDSHAKE 2, as Win32 numbers them.
  return rts_control == 1 || rts_control == 2;
}
