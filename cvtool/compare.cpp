// --compare FILE: does the receiver hold what FILE would program? Each CV the
// file names is read once, as a read-out reads it; nothing is written.
#include <cstdio>

#include "cvtool/binary_text.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "cvtool/job_cv_list.h"
#include "link/serial_port.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"

namespace {
JobCvList list;

void report_difference(const JobCv *cv, int value) {
  char in_file[BINARY_TEXT_SIZE], in_receiver[BINARY_TEXT_SIZE];
  binary_text(cv->value, in_file);
  binary_text(value, in_receiver);
  printf(cv->bank ? "CV %3da: Datei %3d (b%s), Empf\x84nger %3d (b%s)\n"
                  : "CV %3d : Datei %3d (b%s), Empf\x84nger %3d (b%s)\n",
         cv->number, cv->value, in_file, value, in_receiver);
}

// Reads one CV and says how it compares. -1 when bytes stopped reaching the
// port, 1 when the line stopped serving.
int compare_one(const JobCv *cv) {
  int value;
  int read = job_cv_read(cv, &value);
  if (read < 0) return -1;
  json_cv_compared(cv->number, cv->bank, cv->value, read == 0 ? value : -1);
  if (read > 0) {
    job_counts.read_failures++;
    report_read_failure(cv);
    // The rest would fail the same way.
    return read == 2 ? 1 : 0;
  }
  job_counts.cvs_read++;
  if (value != cv->value) {
    job_counts.cvs_differed++;
    report_difference(cv, value);
    return 0;
  }
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  if (job_progress_shown()) {
    printf(cv->bank ? "CV %3da = %3d (b%s)\r" : "CV %3d  = %3d (b%s)\r", cv->number, value, binary);
  }
  return 0;
}
}  // namespace

void compare_cvs(void) {
  job_cv_list_make(JOB_CV_LIST_REFUSALS, &list);
  job_counts.cv_lines += list.writes;
  job_counts.lines_refused += list.refused;
  unsigned failed_before = failed_writes;
  progress_begin("tarvel: Vergleichen");
  for (int i = 0; i < list.count; i++) {
    int stop = compare_one(&list.cvs[i]);
    if (stop < 0)
      printf("\nSchreibfehler: %u Bytes nicht gesendet!\n", failed_writes - failed_before);
    if (stop != 0) break;
    progress_step(i + 1, list.count);
  }
  progress_end();
}

void print_compare_counts(void) {
  int compared = job_counts.cvs_read + job_counts.read_failures;
  printf(
      "tarvel --compare %s: %d CVs verglichen, %d gleich, %d verschieden, %d Lesefehler, %d "
      "Zeilen ung\x81ltig",
      shown_text(one_job_file()).c_str(), compared, job_counts.cvs_read - job_counts.cvs_differed,
      job_counts.cvs_differed, job_counts.read_failures, job_counts.lines_refused);
}
