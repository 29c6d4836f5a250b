// One line of a CV data file: which CV it names and the value to program, or
// why it cannot be programmed.
#pragma once

#include <cstdio>

#define DATA_FILE_LINE_SIZE 1000

// Reads the next line without its line end: LF, CR LF or a lone CR (old
// editors) each end a line. A line longer than 999 characters is skipped
// whole, and the call returns 1 for it: its first 999 characters are no line
// to be used. Returns 0 for a line, or -1 at the end of the file or on a read
// error (errno is then the failed read's).
int read_data_file_line(FILE *file, char line[DATA_FILE_LINE_SIZE]);

// Parses a line without its line end. On success fills number (1..256), bank
// (0 normal, 1 alternative) and value (0..255) and returns a null pointer;
// otherwise returns the message for the line, a format with one "%s" for it.
const char *parse_data_file_line(const char *line, int *number, int *bank, int *value);
