// CV writes as the dialogue and the programming run make them, and with
// --verify the check that the receiver holds the value: the write itself is
// never acknowledged, but the verify that ends a read works for any value.
#include <cstdio>

#include "cvtool/options.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"

JobCounts job_counts;

namespace {
JobCounts at_begin;

// The receiver confirms the selected CV's value. On a line whose answers come
// late, an answer can miss its sample now and then: a refusal there is asked
// once more (a yes still counts only with the complement refused).
int write_confirmed(void) {
  if (line_ready() != 0) return 0;
  if (verify_cv()) return 1;
  return line_slow && line_ready() == 0 && verify_cv();
}

// Counts the write just made and, with --verify, has it confirmed. Returns
// how it ended (JsonWriteOutcome).
int count_write(unsigned failed_before) {
  // A write whose bytes did not all leave (a pulled adapter) was no write.
  if (failed_writes != failed_before) return JSON_WRITE_FAILED;
  job_counts.cvs_written++;
  if (!tarvel_options.verify) return JSON_WRITTEN;
  if (write_confirmed()) return JSON_CONFIRMED;
  job_counts.writes_unconfirmed++;
  return JSON_UNCONFIRMED;
}
}  // namespace

void write_selected_cv(int in_dialogue) {
  unsigned failed_before = failed_writes;
  write_cv();
  int outcome = count_write(failed_before);
  json_cv_written(cv_selection.number, cv_selection.bank, cv_selection.value, outcome);
  if (outcome != JSON_UNCONFIRMED) return;
  // In a programming run the line replaces the progress line of this CV.
  printf(cv_selection.bank ? "%sCV %3da = %3d nicht best\x84tigt!\n"
                           : "%sCV %3d  = %3d nicht best\x84tigt!\n",
         in_dialogue ? "\n" : "", cv_selection.number, cv_selection.value & 0xFF);
}

void write_summary_begin(void) {
  at_begin = job_counts;
}

void write_summary_end(void) {
  // A quiet job's summary line says the same.
  if (!tarvel_options.verify || tarvel_options.quiet) return;
  int written = job_counts.cvs_written - at_begin.cvs_written;
  int unconfirmed = job_counts.writes_unconfirmed - at_begin.writes_unconfirmed;
  printf("\nGeschrieben: %d, best\x84tigt: %d, nicht best\x84tigt: %d\n", written,
         written - unconfirmed, unconfirmed);
}
