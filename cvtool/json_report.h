// --json: a job's standard output is one JSON document and nothing else. From
// json_output_begin on, whatever the program prints to standard output goes
// to standard error; the jobs report each CV here, and json_finish prints the
// whole document at the end of the run. A run that a signal ends prints none.
// Without --json every call here does nothing.
#pragma once

struct LineMeasure;

// How a CV write ended (json_cv_written).
enum JsonWriteOutcome {
  JSON_WRITTEN,      // written, no --verify
  JSON_CONFIRMED,    // written, and the receiver confirmed the value
  JSON_UNCONFIRMED,  // written, but the receiver did not confirm it
  JSON_WRITE_FAILED  // its bytes did not all reach the port
};

// With --json (and no --help or --version): sets standard output aside for
// the document and sends the program's own standard output to standard
// error. Returns 0, or -1 (said on standard error) when that cannot be done.
int json_output_begin(void);
// A CV read by a read-out or a --read job: value 0..255, or -1 when it could
// not be read.
void json_cv_read(int number, int bank, int value);
// A CV read by --backup before it is overwritten: value as json_cv_read.
void json_cv_backed_up(int number, int bank, int value);
// A CV compared: the file's value and the receiver's (-1: not read).
void json_cv_compared(int number, int bank, int file_value, int value);
// A CV written with value, and how the write ended.
void json_cv_written(int number, int bank, int value, int outcome);
// What a check of the line measured (every check of the run, in order).
void json_line_check(const LineMeasure *measure);
// With --json prints the document with exit_code on the standard output set
// aside; returns exit_code, or when the document cannot be written whole (a
// full disk, a closed pipe) says so on standard error and returns 3 (4 stays 4).
int json_finish(int exit_code);
