// What the data file commands and the jobs from the command line share: the
// counts of their summaries, the CV writes and their check, the progress, and
// the jobs themselves (one_job.cpp; compare, backup, check, --read, --write).
#pragma once

#include <cstdio>

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
int dry_run_job(void);
