#include "cvtool/binary_text.h"

void binary_text(int value, char text[BINARY_TEXT_SIZE]) {
  int out = 0;
  for (int bit = 7; bit >= 0; bit--) {
    text[out++] = (value >> bit) & 1 ? '1' : '0';
    if (bit == 4) text[out++] = ' ';
  }
  text[out] = '\0';
}

int binary_parse(const char *text) {
  unsigned result = 0;
  for (; *text; text++) {
    if (*text == '0') result <<= 1;
    if (*text == '1') result = (result << 1) | 1;
  }
  return (int)(result & 0xFF);
}
