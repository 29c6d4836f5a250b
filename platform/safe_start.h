// What both programs do first in main, whatever state their caller left the
// process in, and how they open the files a user names.
#pragma once

#include <cstdio>

// Descriptors 0, 1 and 2 open (on the null device where they were closed), so
// that no file or port opened later lands on one of them and receives the
// program's messages; and output that cannot be written (a reader that went
// away) never ends the process. Call before anything else is opened.
void platform_safe_start(void);
// The standard streams through the console layer (on Linux, stdout and stderr
// become its streams: code page 850 text reaches a UTF-8 terminal, and the
// screen model follows what is printed; on Windows, the console's code pages
// become 850 until the exit).
// platform_safe_start calls it; a program that does not, as the tests, calls
// it first in main. A second call changes nothing.
void platform_streams_begin(void);

// errno after open_regular_file refused a path that names something other than
// a regular file (a FIFO, a device); a directory gives EISDIR.
#define ENOTREGULAR 0x4E52

#ifndef _WIN32
// open(), but only for a regular file, and never blocking on a FIFO or a
// device. Returns the descriptor, or -1 with errno set.
int open_regular_descriptor(const char *path, int flags, int permissions);
#endif

// fopen, but only for a regular file (with mode "w", also one that does not
// exist yet). Never blocks on a FIFO or a device. Returns the stream, to be
// closed by close_regular_file (never by fclose alone: _fcloseall would close
// it again), or a null pointer with errno set by the call that failed.
FILE *open_regular_file(const char *path, const char *mode);
// Closes a stream that open_regular_file opened; fclose's result. (_fcloseall
// closes those still open.)
int close_regular_file(FILE *stream);
