// One line of a CV data file: which CV it names and the value to program, or
// why it cannot be programmed; and the one message about a refused line.
#pragma once

#include <cstdio>
#include <string>

#define DATA_FILE_LINE_SIZE 1000

// Reads the next line without its line end: LF, CR LF or a lone CR (old
// editors) each end a line. A line longer than 999 characters is skipped
// whole, and the call returns 1 for it: its first 999 characters are no line
// to be used. Returns 0 for a line, or -1 at the end of the file or on a read
// error (errno is then the failed read's).
int read_data_file_line(FILE *file, char line[DATA_FILE_LINE_SIZE]);

// What a line says: a CV to program, or why it is refused.
enum DataLineVerdict {
  DATA_LINE_CV,           // number, bank and value are filled in
  DATA_LINE_BLANK,        // nothing but blanks (space, tab): no '=' either
  DATA_LINE_NO_EQUALS,    // no '='
  DATA_LINE_NO_CV,        // no digit before the '='
  DATA_LINE_NO_VALUE,     // no digit in the value part
  DATA_LINE_CV_RANGE,     // CV number not 1..256
  DATA_LINE_VALUE_RANGE,  // value not 0..255
  DATA_LINE_TOO_LONG      // longer than 999 characters (read_data_file_line's 1)
};

// The CV a line names.
struct DataLine {
  int number;  // 1..256
  int bank;    // 0 normal, 1 alternative
  int value;   // 0..255
};

// The CV that text names up to end (the part of a line before its '='): its
// number read from the first digit on, the alternative bank when an 'a' or
// 'A' follows that digit. Returns DATA_LINE_CV with number and bank of *found
// filled in, DATA_LINE_NO_CV (no digit) or DATA_LINE_CV_RANGE (not 1..256).
int parse_cv_name(const char *text, const char *end, DataLine *found);

// Parses a line without its line end and returns its verdict; only for
// DATA_LINE_CV is *found filled in. Never DATA_LINE_TOO_LONG.
int parse_data_file_line(const char *line, DataLine *found);

// Why a line with this verdict is refused, after "ungültige zeile: " (code
// page 850): "keine CV-Nummer", "CV muss zwischen 1 und 256 liegen", ...
const char *data_line_reason(int verdict);

// The message for a line that is not programmed, ending in a line end:
// "LINE: ungültige zeile: WHY" ("kein '='" for a blank line), preceded by
// "Zeile N: " when line_number is not 0; for DATA_LINE_TOO_LONG "Zeile N zu
// lang (mehr als 999 Zeichen): nicht programmiert". The line's text is shown
// with its controls as glyphs (shown_text), wherever the message goes. The
// program's own words are code page 850, as the other messages.
std::string data_line_refusal(int verdict, const char *line, unsigned line_number);
