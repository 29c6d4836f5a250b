// A note for the user that is written on standard error when the process is
// ended from outside in the middle of something that cannot be undone (a
// programming run): what was done and what to do now. POSIX: on SIGHUP,
// SIGINT, SIGQUIT, SIGTERM and the other signals from outside whose default
// ends the process, in the handler with write(2) alone, after which the
// signal takes its course (the exit status stays 128 + its number). Windows:
// on Ctrl+C, Ctrl+Break, a closing console, log-off and shut-down.
#pragma once

// Makes text (code page 850, as printed, at most 1000 bytes) the note from now
// on; a null pointer or "" means none. Kept up to date after each step, the
// note is always whole: a signal finds either the old text or the new one.
void ending_note_set(const char *text);
