// Text for the console on Windows. Our texts are code page 850 bytes: while a
// program runs, the console's input and output code pages are 850 (restored on
// every way out), and what the program prints to a console goes out through
// WriteConsoleA, which reads the bytes in the console's output code page. The C
// runtime's own console path does not everywhere (under Wine the umlauts
// vanish from it, whatever the console's code page). Well-formed UTF-8 in the
// text (a line of a UTF-8 file, outside text made visible by shown_text) goes
// to the console as the characters it encodes, as on Linux; a C1 control never
// does. Output to a file or a pipe stays the C runtime's, byte for byte. The programs call printf
// and friends as always; the defines below route them here.
#pragma once

#ifdef _WIN32

#include <cstdarg>
#include <cstdio>

int console_printf(const char *format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
int console_fprintf(FILE *stream, const char *format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
int console_vprintf(const char *format, va_list arguments);
int console_vfprintf(FILE *stream, const char *format, va_list arguments);
int console_fputs(const char *text, FILE *stream);
int console_puts(const char *text);
int console_fputc(int c, FILE *stream);
int console_putchar(int c);

// Sets the console's code pages to 850 and arranges for the ones found to come
// back at exit, on Ctrl+C, Ctrl+Break and when the window closes. Called at
// start-up by platform_streams_begin(), before the banner, which has umlauts;
// calling it again does nothing.
void console_use_code_page_850(void);
// Puts back the code pages found by console_use_code_page_850.
void console_restore_code_pages(void);

#ifndef CONSOLE_TEXT_WIN32_IMPLEMENTATION
#define printf(...) console_printf(__VA_ARGS__)
#define fprintf(...) console_fprintf(__VA_ARGS__)
#define vprintf(...) console_vprintf(__VA_ARGS__)
#define vfprintf(...) console_vfprintf(__VA_ARGS__)
#define fputs(...) console_fputs(__VA_ARGS__)
#define puts(...) console_puts(__VA_ARGS__)
#define fputc(...) console_fputc(__VA_ARGS__)
#define putchar(...) console_putchar(__VA_ARGS__)
#endif

#endif  // _WIN32
