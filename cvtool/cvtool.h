// tarvel's command flow: the state that lives for the whole run, its exit
// codes, and the commands of the menu. The options are in options.h, the jobs
// from the command line in jobs.h, the check of the line in line_ready.h.
#pragma once

#include <cstddef>

#define DATA_FILE_NAME_SIZE 1000
// A read-out reads CVs 1 to 199 of both banks, unless --cvs names others.
#define READ_OUT_CVS 398
// How long a file error or a failed read-out stays on screen before the menu.
#define FILE_ERROR_PAUSE_MS 1000

// Name of the CV data file; empty when none is chosen.
extern char data_file_name[DATA_FILE_NAME_SIZE];
// How long the receiver is held in reset: 10000 ms, 2000 with ORN_HOME set.
extern int reset_wait_ms;
// The number the single-CV dialogue offers next (1..256, 1001..1256).
extern int next_cv_entry;
// Whether the single-CV dialogue asks for values in binary.
extern int binary_entry_mode;
// The port as the command line names it; null until the start has read it.
extern const char *command_line_port;

// ---------------------------------------------------------------- exit codes
// tarvel ends only by returning from main(): a step that ends the run has
// printed its message and made its pause, and returns the exit code, which
// every caller hands back at once; a step after which the run goes on returns
// KEEP_RUNNING. That is no exit code (they are 0 to 255), nor -1, which an
// operation returns when it fails: a failure handed on as a step's result ends
// the run instead of letting it go on.
enum {
  KEEP_RUNNING = 256,
  EXIT_QUIT = 0,             // the quit key; --help, --version, --ports
  EXIT_QUIT_FAILED = 4,      // the quit key, but the quit sequence did not reach the port
  EXIT_USAGE = 9,            // no port, a wrong option, a data file name too long
  EXIT_NO_FILE_CHOSEN = 77,  // the user chose no data file
  EXIT_NO_PORT = 99          // the framework or the port cannot be used
};
// The exit codes of a job (--read-out, --program, --compare, --read, --write
// and --check);
// where several apply, the first in this order.
enum {
  JOB_DONE = 0,
  JOB_CV_FAILED = 1,      // a CV could not be read, or a write was not confirmed
  JOB_LINES_REFUSED = 2,  // lines of the file could not be programmed
  JOB_FILE_FAILED = 3,    // the file could not be used
  JOB_PORT_FAILED = 4     // bytes did not reach the port, also those of the quit sequence
};

// The whole program; returns the exit code.
int tarvel_main(int argc, char **argv);
// The menu until the user quits; returns the exit code (0 after the quit key,
// 4 when the quit sequence did not reach the port).
int command_loop(void);
// Sends the receiver's quit sequence. Returns 0, or JOB_PORT_FAILED after
// saying that bytes of it did not reach the port: the receiver is not
// released.
int quit_and_check(void);
// `e`: read or program single CVs.
void single_cv_dialogue(void);
// `a`: CVs 1 to 199 of both banks (--read-out with --cvs: the CVs of LIST)
// into the data file. Returns KEEP_RUNNING, or EXIT_NO_FILE_CHOSEN.
int read_out_cvs(void);
// How many CVs a read-out reads: 398, or with --cvs the count of LIST.
int read_out_cv_count(void);
// `p`: the CVs a data file lists into the receiver. Returns KEEP_RUNNING, or
// EXIT_NO_FILE_CHOSEN.
int program_cvs(void);
// Makes sure the data file name is set. Returns KEEP_RUNNING, or
// EXIT_NO_FILE_CHOSEN when the user chose none (the run then ends at once,
// the receiver left as it is).
int select_data_file(void);
// Where the platform has no file dialog: asks for the data file's path on the
// console until one is typed that is no directory. On success writes the full
// path into path (size bytes, NUL-terminated) and returns 0; returns -1 for
// ESC, an empty answer or the end of the input.
int prompt_for_data_file(char *path, size_t size);
