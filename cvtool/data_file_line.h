// One line of a CV data file: which CV it names and the value to program, or
// why it cannot be programmed.
#pragma once

#include <cstdio>

#define DATA_FILE_LINE_SIZE 1000

// Removes the line end (line feeds and carriage returns) from the end of line,
// so that a file with CR LF reads like one with LF alone.
void strip_line_end(char *line);

// Reads the next line, or the next 999 characters of a longer one, without its
// line end. Returns 0, or -1 at the end of the file or on a read error.
int read_data_file_line(FILE *file, char line[DATA_FILE_LINE_SIZE]);

// Parses a line without its line end. On success fills number (1..256), bank
// (0 normal, 1 alternative) and value (0..255) and returns a null pointer;
// otherwise returns the message for the line, a format with one "%s" for it.
const char *parse_data_file_line(const char *line, int *number, int *bank, int *value);
