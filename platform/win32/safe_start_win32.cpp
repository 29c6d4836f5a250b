// The start of both programs on Windows, and opening a user's file. A closed
// standard handle cannot be taken over by the port (the port is no C library
// descriptor), and there is no SIGPIPE: only the console's code pages are set.
#include <io.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/safe_start.h"

void platform_safe_start(void) {
  platform_streams_begin();
}

void platform_streams_begin(void) {
  console_use_code_page_850();
}

// Names such as CON, NUL or COM1 open devices, not files.
FILE *open_regular_file(const char *path, const char *mode) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return nullptr;
  }
  FILE *stream = fopen(path, mode);
  if (stream == nullptr) return nullptr;
  if (GetFileType((HANDLE)_get_osfhandle(_fileno(stream))) != FILE_TYPE_DISK) {
    fclose(stream);
    errno = ENOTREGULAR;
    return nullptr;
  }
  return stream;
}

int close_regular_file(FILE *stream) {
  return fclose(stream);
}
