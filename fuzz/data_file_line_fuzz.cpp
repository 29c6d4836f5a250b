// Any bytes as a data file: every line, without its line end, either parses to
// a CV in range or is refused with a message that names the line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cvtool/data_file_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (size == 0 || file == nullptr) return 0;
  char line[DATA_FILE_LINE_SIZE];
  int read;
  while ((read = read_data_file_line(file, line)) >= 0) {
    if (read > 1 || strlen(line) >= DATA_FILE_LINE_SIZE) abort();
    // A line end is never part of a line, whichever of the three it was.
    if (strpbrk(line, "\r\n") != nullptr) abort();
    int number = 0, bank = -1, value = -1;
    const char *message = parse_data_file_line(line, &number, &bank, &value);
    if (message != nullptr) {
      if (strstr(message, "%s") == nullptr) abort();
    } else if (number < 1 || number > 256 || (bank != 0 && bank != 1) || value < 0 || value > 255) {
      abort();
    }
  }
  fclose(file);
  return 0;
}
