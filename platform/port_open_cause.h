// Why a port did not open, in words, for the lines after the "Error N" of a
// failed open: a number alone does not tell a missing adapter from a port in
// use or one the user may not open.
#pragma once

#include <cstddef>

// The system's text for the failed open that just happened (call it at once,
// before anything else may change the thread's last error), without its line
// end, into text; and into advice, for error 5, which of its two causes it is
// (in use, or no permission and what to do), or an empty text.
void describe_port_open_failure(unsigned long code, char *text, size_t text_size, char *advice,
                                size_t advice_size);
