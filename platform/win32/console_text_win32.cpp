// Printing to the console on Windows (see console_text_win32.h).
#define CONSOLE_TEXT_WIN32_IMPLEMENTATION
#include "platform/win32/console_text_win32.h"

#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/code_page_850.h"

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

// Code page 850 bytes as they are; the console reads them in its code page.
int write_bytes(HANDLE console, const char *text, size_t length) {
  size_t done = 0;
  while (done < length) {
    // The console takes a limited amount per call.
    DWORD piece = length - done > 16384 ? 16384 : (DWORD)(length - done);
    DWORD written = 0;
    if (!WriteConsoleA(console, text + done, piece, &written, nullptr) || written == 0) return -1;
    done += written;
  }
  return 0;
}

// How many bytes from the start of text are UTF-8 characters (utf8 true) or
// are none (utf8 false).
size_t run_length(const char *text, size_t length, bool utf8) {
  const unsigned char *bytes = (const unsigned char *)text;
  size_t i = 0;
  while (i < length) {
    uint32_t code_point = 0;
    size_t used = bytes[i] >= 0x80 ? utf8_passing_length(bytes + i, length - i, &code_point) : 0;
    if ((used > 0) != utf8) break;
    i += used > 0 ? used : 1;
  }
  return i;
}

// The characters of count bytes that are all well-formed UTF-8.
void append_utf8(std::vector<wchar_t> *wide, const char *text, size_t count) {
  const unsigned char *bytes = (const unsigned char *)text;
  for (size_t i = 0; i < count;) {
    uint32_t code_point = 0;
    i += utf8_passing_length(bytes + i, count - i, &code_point);
    if (code_point >= 0x10000) {
      wide->push_back((wchar_t)(0xD800 + ((code_point - 0x10000) >> 10)));
      code_point = 0xDC00 + ((code_point - 0x10000) & 0x3FF);
    }
    wide->push_back((wchar_t)code_point);
  }
}

// The characters of count bytes in the console's code page, as WriteConsoleA
// would read them.
void append_code_page(std::vector<wchar_t> *wide, const char *text, size_t count) {
  if (count == 0) return;
  UINT code_page = GetConsoleOutputCP();
  int needed = MultiByteToWideChar(code_page, 0, text, (int)count, nullptr, 0);
  if (needed <= 0) return;
  size_t at = wide->size();
  wide->resize(at + (size_t)needed);
  MultiByteToWideChar(code_page, 0, text, (int)count, wide->data() + at, needed);
}

int write_characters(HANDLE console, const std::vector<wchar_t> &wide) {
  size_t done = 0;
  while (done < wide.size()) {
    DWORD piece = wide.size() - done > 16384 ? 16384 : (DWORD)(wide.size() - done);
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, piece, &written, nullptr) || written == 0) {
      return -1;
    }
    done += written;
  }
  return 0;
}

// Whatever the C runtime still holds for the stream goes first, so that the
// order on the screen is the order of the calls. Our own texts are code page
// 850 and never form UTF-8: they go out as the bytes they are. A text with
// UTF-8 in it (a UTF-8 file's line, outside text made visible) goes out as
// characters, in one write all the same.
int write_console(HANDLE console, FILE *stream, const char *text, size_t length) {
  fflush(stream);
  if (run_length(text, length, false) == length) {
    return write_bytes(console, text, length) == 0 ? (int)length : EOF;
  }
  std::vector<wchar_t> wide;
  for (size_t done = 0; done < length;) {
    size_t bytes = run_length(text + done, length - done, false);
    append_code_page(&wide, text + done, bytes);
    done += bytes;
    size_t characters = run_length(text + done, length - done, true);
    append_utf8(&wide, text + done, characters);
    done += characters;
  }
  return write_characters(console, wide) == 0 ? (int)length : EOF;
}

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
