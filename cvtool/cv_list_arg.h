// The CVs the command line names: --cvs and --read take CV numbers in the
// data file's notation (7, 7a, ranges 1-256 and 1a-256a, separated by
// commas), --write takes CV=VALUE pairs.
#pragma once

#include <string>

#include "cvtool/job_cv_list.h"

// Why a list was refused: the part that is wrong, and what is wrong with it.
struct CvListError {
  std::string part;    // the entry as given; the whole list for an empty entry
  const char *reason;  // code page 850
};

// The CVs of --cvs, --read or --write (only one of them is allowed a run).
extern JobCvList command_line_cvs;

// Parses a LIST of CV numbers into list: each CV once, in the order LIST
// names it first (values 0). Returns 0, or -1 with *error filled in.
int cv_list_parse(const char *text, JobCvList *list, CvListError *error);
// Parses CV=VALUE[,CV=VALUE...] (VALUE decimal, 0 to 255) into list, in their
// order; a CV named twice is refused. Returns 0, or -1 with *error filled in.
int cv_values_parse(const char *text, JobCvList *list, CvListError *error);
