// The file of a --program, --compare or --check job, read whole once before
// the port is opened. The backup, the writes, the listing and the summary all
// come from this one reading: a file changed or replaced while the job runs
// changes nothing the job does.
#pragma once

#include "cvtool/data_file_line.h"

// The largest file a job takes; its lines are held in memory. A full data file
// of both banks has about 13 KB.
#define JOB_FILE_MAX_BYTES (4L * 1024 * 1024)

// A line of the file that asks for something: a CV to program, or a refusal.
// Blank lines ask for nothing and are not kept.
struct JobFileLine {
  unsigned number;  // its number in the file, from 1
  int verdict;      // a DataLineVerdict other than DATA_LINE_BLANK
  DataLine cv;      // the CV, for DATA_LINE_CV
};

// Reads the regular file name whole. Returns 0, or -1 with errno set: when it
// cannot be opened or read, or EFBIG when it is larger than
// JOB_FILE_MAX_BYTES. The lines of an earlier reading are gone either way.
int job_file_read(const char *name);
// How many lines the last reading kept.
int job_file_line_count(void);
// The line at index (0 .. job_file_line_count() - 1).
const JobFileLine *job_file_line(int index);
// The text of a refused line at index, as read: without its line end, the
// first 999 characters of a line too long. Empty for a CV line.
const char *job_file_text(int index);
