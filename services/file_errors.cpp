// The text of a file's error, the same on both systems.
#include <cstring>

// platform.h: on Windows the message reaches the console through its text
// layer, which shows umlauts and glyphs.
#include "platform/platform.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"
#include "services/file_errors.h"

const char *file_error_text(int error) {
  if (error == ENOTREGULAR) return "Not a regular file";
  return strerror(error);
}

void report_file_error(const char *path, int error) {
  fprintf(stderr, "%s: %s\n", shown_text(path).c_str(), shown_text(file_error_text(error)).c_str());
}
