// The CVs the job's file names, as the jobs that read before or instead of
// writing need them: each CV once, in the order of its first line, with the
// value of its last line (the value a programming run leaves behind).
#pragma once

#define JOB_CV_LIST_SIZE 512

struct JobCv {
  int number;  // 1 to 256
  int bank;    // 0 normal, 1 alternative
  int value;   // 0 to 255
};

struct JobCvList {
  JobCv cvs[JOB_CV_LIST_SIZE];
  int count;    // different CVs
  int writes;   // lines that name a CV: the writes a programming run makes
  int refused;  // lines a programming run refuses (a blank line is none)
};

// What job_cv_list_read shows of the file while it reads it.
enum {
  JOB_CV_LIST_SILENT,    // nothing
  JOB_CV_LIST_REFUSALS,  // every refused line with its number, as a job reports it
  JOB_CV_LIST_ALL        // that, and every line that would be written
};

// Makes list from the job's file as job_file_read read it.
void job_cv_list_make(int show, JobCvList *list);

// Reads cv from the receiver as a read-out does, up to five times, into
// *value. Returns 0 when read, 1 when five reads were not confirmed (*value
// -1), 2 when the line does not serve (it has been named), -1 when bytes
// stopped reaching the port.
int job_cv_read(const JobCv *cv, int *value);
// "CV   7a: Lesefehler!" on a line of its own, over the progress line.
void report_read_failure(const JobCv *cv);
