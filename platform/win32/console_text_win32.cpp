// Printing to the console on Windows (see console_text_win32.h).
#define CONSOLE_TEXT_WIN32_IMPLEMENTATION
#include "platform/win32/console_text_win32.h"

#include <io.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace {

// The console behind stdout or stderr, or null when the stream is anything else
// (a file, a pipe, a closed stream).
HANDLE console_of(FILE *stream) {
  if (stream != stdout && stream != stderr) return nullptr;
  int descriptor = _fileno(stream);
  if (descriptor < 0) return nullptr;
  HANDLE handle = (HANDLE)_get_osfhandle(descriptor);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

// Whatever the C runtime still holds for the stream goes first, so that the
// order on the screen is the order of the calls.
int write_console(HANDLE console, FILE *stream, const char *text, size_t length) {
  fflush(stream);
  size_t done = 0;
  while (done < length) {
    // The console takes a limited amount per call.
    DWORD piece = length - done > 16384 ? 16384 : (DWORD)(length - done);
    DWORD written = 0;
    if (!WriteConsoleA(console, text + done, piece, &written, nullptr) || written == 0) return EOF;
    done += written;
  }
  return (int)length;
}

// Runs before main: the banner is the first text, and it has umlauts too.
const int code_page_set = (console_use_code_page_850(), 0);

}  // namespace

int console_vfprintf(FILE *stream, const char *format, va_list arguments) {
  HANDLE console = console_of(stream);
  if (console == nullptr) return vfprintf(stream, format, arguments);
  char text[1024];
  va_list again;
  va_copy(again, arguments);
  int length = vsnprintf(text, sizeof text, format, arguments);
  if (length >= 0 && (size_t)length >= sizeof text) {
    std::vector<char> long_text((size_t)length + 1);
    vsnprintf(long_text.data(), long_text.size(), format, again);
    va_end(again);
    return write_console(console, stream, long_text.data(), (size_t)length);
  }
  va_end(again);
  return length < 0 ? length : write_console(console, stream, text, (size_t)length);
}

int console_vprintf(const char *format, va_list arguments) {
  return console_vfprintf(stdout, format, arguments);
}

int console_fprintf(FILE *stream, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = console_vfprintf(stream, format, arguments);
  va_end(arguments);
  return result;
}

int console_printf(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = console_vfprintf(stdout, format, arguments);
  va_end(arguments);
  return result;
}

int console_fputs(const char *text, FILE *stream) {
  HANDLE console = console_of(stream);
  if (console == nullptr) return fputs(text, stream);
  return write_console(console, stream, text, strlen(text)) < 0 ? EOF : 0;
}

int console_puts(const char *text) {
  if (console_fputs(text, stdout) == EOF) return EOF;
  return console_fputc('\n', stdout) == EOF ? EOF : 0;
}

int console_fputc(int c, FILE *stream) {
  HANDLE console = console_of(stream);
  if (console == nullptr) return fputc(c, stream);
  char byte = (char)c;
  return write_console(console, stream, &byte, 1) < 0 ? EOF : (unsigned char)byte;
}

int console_putchar(int c) {
  return console_fputc(c, stdout);
}
