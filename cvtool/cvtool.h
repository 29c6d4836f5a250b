// tarvel's command flow: the state that lives for the whole run, and the
// commands of the menu.
#pragma once

#include <cstdio>

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
// KEEP_RUNNING.
enum {
  KEEP_RUNNING = -1,
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

// ---------------------------------------------------------------- options
// The options, before or after the port (command_options.cpp). None of them
// given, the program behaves byte for byte as without them.
struct TarvelOptions {
  int verify;            // --verify: every CV write is followed by a verify
  int force;             // --force: --read-out or --backup may overwrite its file
  const char *read_out;  // --read-out FILE: one read-out, then quit
  const char *program;   // --program FILE: one programming run, then quit
  const char *compare;   // --compare FILE: the receiver against FILE, nothing written
  const char *backup;    // --backup OLD: with --program, the values it overwrites
  int check;             // --check: the job's file alone, no port
  int help;              // --help
  int version;           // --version
  int ports;             // --ports
  int quiet;             // -q, --quiet: a job shows only its failures and summary
  int line_test;         // --line-test: measure the line, then quit
  int json;              // --json: a job's standard output is one JSON document
  const char *cvs;       // --cvs LIST: with --read-out, the CVs it reads
  const char *read;      // --read LIST: these CVs onto standard output, then quit
  const char *write;     // --write CV=VALUE,...: these values into the receiver, then quit
};
extern TarvelOptions tarvel_options;
// Takes the options wherever they stand in argv. Leaves argv[0] and then the
// other arguments, in their order, in argv, sets *argc to their count and
// returns KEEP_RUNNING; or answers --ports (EXIT_QUIT), or refuses a wrong
// option (EXIT_USAGE).
int take_options(int *argc, char **argv);
// The lines after a port that cannot be opened: why, and where to find the
// ports.
void print_ports_hint(void);

// ---------------------------------------------------------------- write check
// What the data file commands and the CV writes did (for the summaries).
struct JobCounts {
  int cvs_read;            // read-out: CVs read
  int read_failures;       // read-out: CVs that failed five reads
  int lines_refused;       // programming: lines that could not be programmed
  int cv_lines;            // programming: lines that name a CV to program
  int cvs_written;         // CV writes, from the file or the dialogue
  int writes_unconfirmed;  // of them, with --verify, not confirmed
  int file_errors;         // the data file could not be opened, read or written
  int cvs_differed;        // compare: CVs whose value is not the file's
};
extern JobCounts job_counts;
// Writes the selected CV; with --verify then asks the receiver to confirm the
// value and reports a write it does not confirm. in_dialogue: the single-CV
// dialogue (its report begins on a new line); else the programming run.
void write_selected_cv(int in_dialogue);
// With --verify, the end of a programming run: written, confirmed, not
// confirmed since write_summary_begin().
void write_summary_begin(void);
void write_summary_end(void);

// ---------------------------------------------------------------- progress
// The progress of a read-out or a programming run in the window title
// (job_progress.cpp); the console lines stay as they are.
void progress_begin(const char *job);
void progress_step(long done, long total);
// A programming run: its progress is how far it has read into its file.
void progress_file_begin(FILE *file, const char *job);
void progress_file_step(FILE *file);
void progress_end(void);

// ---------------------------------------------------------------- the line
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

// ---------------------------------------------------------------- one job
// Non-zero when --read-out, --program, --compare, --read or --write asks for
// one job instead of the menu.
int one_job_requested(void);
// Non-zero when the run waits for no key: a job, or --line-test.
int runs_unattended(void);
// Whether the per-CV progress lines (ended by CR, for a terminal) are shown:
// always at the menu; in a job only on a terminal and without --quiet, so that
// a log gets whole lines.
int job_progress_shown(void);
// The file the job works on (FILE of --read-out, --program or --compare);
// a null pointer for --read and --write, which have none.
const char *one_job_file(void);
// Checks the job's file before anything else. Returns KEEP_RUNNING, or
// JOB_FILE_FAILED when it cannot be used.
int check_one_job_file(void);
// Makes a read-out's new file beside its target before the port is touched,
// so that a target that cannot take one resets no receiver. Returns
// KEEP_RUNNING, or JOB_FILE_FAILED.
int make_one_job_file(void);
// Asks before a file is replaced, then makes the read-out's new file beside
// it; 0 when the read-out can go on (also when make_one_job_file made it).
int read_out_open_file(void);
// Runs the job on the woken receiver, sends the quit sequence and returns the
// job's exit code.
int run_one_job(void);
// In a --program job, after each CV written (writing non-zero): what a signal
// that ends the job now says on standard error (how many CVs are written, that
// the receiver is partly programmed, and with --backup the command that gives
// it its old values back); writing 0 when the writes are over: nothing.
void note_programming(int writing);

// ---------------------------------------------------------------- single CVs
// --read LIST: reads each CV of LIST as a read-out does and prints its line,
// in the read-out's format, on standard output; nothing else goes there.
void read_cvs_job(void);
// --write CV=VALUE,...: writes the values in their order, with --verify
// confirmed; stops when bytes stop reaching the port or the line fails.
void write_cvs_job(void);

// ---------------------------------------------------------------- compare, backup, check
// --compare: reads every CV the data file names, once each, and reports those
// that differ from the file or cannot be read; writes nothing.
void compare_cvs(void);
// The counts of the --compare summary line.
void print_compare_counts(void);
// Before the port: OLD of --backup must be free (or --force given), a regular
// file's name, and not FILE itself. Returns KEEP_RUNNING, or JOB_FILE_FAILED.
int check_backup_file(void);
// Makes the backup's new file beside OLD before the port is touched. Returns
// KEEP_RUNNING, or JOB_FILE_FAILED when it cannot be made.
int make_backup_file(void);
// Reads the current value of every CV the data file will write and puts them
// into OLD. Returns 0 when OLD is complete and in place; otherwise OLD is as
// it was and the job's exit code (1 a CV could not be read, 3 OLD could not
// be saved, 4 the port failed) is returned, and nothing may be written.
int backup_cvs(void);
// The part of the --program summary about the backup.
void print_backup_summary(void);
// --check: lists what the job would do with its file and how long it would
// take, opening no port; returns the exit code, 0, 2 or 3.
int run_job_check(void);
