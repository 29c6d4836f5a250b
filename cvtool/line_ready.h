// The line to the receiver, as the menu and the jobs check it before they
// read or write (line_ready.cpp), and --line-test (line_test.cpp).
#pragma once

// Before a read, and before a job's first write: checks the line where that
// is due (the first time, and after a failed read) and names, once, a line
// that does not serve or serves only slowly. Returns 0 when it serves; -1
// when not, with line_failed set, or when bytes did not reach the port
// (failed_writes grew; the caller reports that).
int line_ready(void);
// Set once a line was found not to serve in this run.
extern int line_failed;
// Names what a line check found (link/line_check.h), each verdict once: a
// line that does not serve, and what to do; one that serves slowly.
void name_line_verdict(int verdict);
// --line-test: measures the line to port on the woken receiver, says what it
// found, sends the quit sequence. Returns 0 when the line serves, 1 when not,
// 4 when bytes did not reach the port.
int run_line_test(const char *port);
