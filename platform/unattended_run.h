// A run that reads no key and draws no screen (tarvel's jobs): it leaves the
// terminal or the console as it found it, so that it runs in the background
// and in scripts, and whatever ends it from outside shows in its exit code.
#pragma once

// From now on standard output and standard error carry the text alone, also
// on a terminal (UTF-8 on POSIX, without colour, cursor or line-wrap
// sequences; the Windows console takes the text alone anyway), so nothing is
// left for the terminal to undo. The signals keep their default actions
// (POSIX: the exit status is 128 + the signal's number); on Windows, Ctrl+C,
// Ctrl+Break, a closing console, log-off and shut-down end the process with
// STATUS_CONTROL_C_EXIT after the other handlers' clean-up, never with 0.
void unattended_run_begin(void);
