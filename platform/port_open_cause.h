// Why a port did not open, in words, for the lines after the "Error N" of a
// failed open: a number alone does not tell a missing adapter from a port in
// use or one the user may not open.
#pragma once

#include <cstddef>

// The system's words for error code, which just happened (call it at once),
// without a line end, into text: FormatMessageA's on Windows; on Linux the C
// library's for the errno behind the code (strerror, in the language the
// environment's LC_MESSAGES asks for where the C library has it).
void describe_system_error(unsigned long code, char *text, size_t text_size);

// The system's words for the failed open that just happened
// (describe_system_error: call it at once, before anything else may change the
// thread's last error) into text; and into advice, for error 5, which of its two causes it is
// (in use, or no permission and what to do), or an empty text.
void describe_port_open_failure(unsigned long code, char *text, size_t text_size, char *advice,
                                size_t advice_size);
