// --read LIST and --write CV=VALUE,...: single CVs from the command line, for
// scripts. --read prints nothing on standard output but the CVs' lines, in
// the read-out's format; what else it has to say goes to standard error.
#include <cstdio>

#include "cvtool/binary_text.h"
#include "cvtool/cv_list_arg.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"

namespace {
// Reads one CV and prints its line, or its "Lesefehler!" line. Returns 0 to
// go on, -1 when bytes stopped reaching the port, 1 when the line failed.
int read_one(const JobCv *cv) {
  int value;
  int read = job_cv_read(cv, &value);
  if (read < 0) return -1;
  json_cv_read(cv->number, cv->bank, read > 0 ? -1 : value);
  if (read > 0) {
    job_counts.read_failures++;
    printf(cv->bank ? "CV %3da: Lesefehler!\n" : "CV %3d: Lesefehler!\n", cv->number);
    // The rest would fail the same way.
    return read == 2 ? 1 : 0;
  }
  job_counts.cvs_read++;
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  printf(cv->bank ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", cv->number, value, binary);
  return 0;
}

void report_lost_bytes(FILE *stream, unsigned failed_before) {
  fprintf(stream, "Schreibfehler: %u Bytes nicht gesendet!\n", failed_writes - failed_before);
}
}  // namespace

void read_cvs_job(void) {
  unsigned failed_before = failed_writes;
  progress_begin("tarvel: Lesen");
  for (int i = 0; i < command_line_cvs.count; i++) {
    int stop = read_one(&command_line_cvs.cvs[i]);
    // A script reads each line as it comes.
    fflush(stdout);
    if (stop < 0) report_lost_bytes(stderr, failed_before);
    if (stop != 0) break;
    progress_step(i + 1, command_line_cvs.count);
  }
  progress_end();
}

void write_cvs_job(void) {
  unsigned failed_before = failed_writes;
  progress_begin("tarvel: Schreiben");
  note_programming(1);
  for (int i = 0; i < command_line_cvs.count; i++) {
    cv_selection.number = command_line_cvs.cvs[i].number;
    cv_selection.bank = command_line_cvs.cvs[i].bank;
    cv_selection.value = command_line_cvs.cvs[i].value;
    // On a terminal the progress line, as a programming run shows it.
    if (job_progress_shown()) {
      printf(cv_selection.bank ? "CV %3da = %3d\r" : "CV %3d  = %3d\r", cv_selection.number,
             cv_selection.value);
    }
    write_selected_cv(0);
    note_programming(1);
    // A receiver that stopped answering, or a port that stopped taking
    // bytes, is written no more.
    if (failed_writes != failed_before || line_failed) break;
    progress_step(i + 1, command_line_cvs.count);
  }
  note_programming(0);
  progress_end();
  if (failed_writes != failed_before) report_lost_bytes(stdout, failed_before);
}
