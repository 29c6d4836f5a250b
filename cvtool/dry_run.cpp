// --check with --program or --compare: what the job would do with its file,
// and how long it would take on the line, without a port. The time is the
// protocol's own: its pauses plus ten bit times at 38400 baud for every byte.
#include <cstdio>

#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/jobs.h"
#include "cvtool/job_cv_list.h"
#include "link/line_check.h"
#include "services/shown_text.h"
#include "services/file_replace.h"
#include "platform/safe_start.h"

namespace {
const double BYTE_MS = 10.0 / 38.4;
// Reset and wake: 500 ms, 0x41, 200 ms, the reset wait, 20 ms, twelve wake
// bytes and 0x55 with 20 ms after each, 2000 ms.
const double START_PAUSES_MS = 500 + 200 + 20 + 13 * 20 + 2000;
const int START_BYTES = 1 + 12 + 1;
// A read: eight questions and a verify, each 4 bytes, 1 ms and 3 ms.
const double READ_MS = 9 * 4 + 9 * 4 * BYTE_MS;
// A write: 4 bytes and 10 ms; with --verify one more verify.
const double WRITE_MS = 10 + 4 * BYTE_MS;
const double VERIFY_MS = 4 + 4 * BYTE_MS;
// The quit sequence: four bytes, 20 ms.
const double QUIT_MS = 20 + 4 * BYTE_MS;
// The line's check before the first read or write, on a line that answers at
// once: a read of eight questions, then pairs of verifies.
const double LINE_CHECK_MS = (8 + 2 * LINE_CHECK_PAIRS) * VERIFY_MS;

JobCvList list;

void list_compared_cvs(void) {
  char binary[BINARY_TEXT_SIZE];
  for (int i = 0; i < list.count; i++) {
    const JobCv *cv = &list.cvs[i];
    binary_text(cv->value, binary);
    printf(cv->bank ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", cv->number, cv->value,
           binary);
  }
}

// How long the job keeps the line, in ms, and what it is made of.
double print_duration(int reads, int writes) {
  double write_ms = WRITE_MS + (tarvel_options.verify ? VERIFY_MS : 0);
  double start_ms = START_PAUSES_MS + reset_wait_ms + START_BYTES * BYTE_MS + LINE_CHECK_MS;
  double total_ms = start_ms + reads * READ_MS + writes * write_ms + QUIT_MS;
  if (tarvel_options.quiet) return total_ms;
  printf(
      "Dauer auf der Leitung: %.1f s (Reset, Wecken und Leitungstest %.3f s, %d x Lesen je "
      "%.3f ms, "
      "%d x Schreiben je %.3f ms, Beenden %.3f ms)\n",
      total_ms / 1000, start_ms / 1000, reads, READ_MS, writes, write_ms, QUIT_MS);
  return total_ms;
}

int check_code(void) {
  if (list.writes == 0) return 3;
  return list.refused > 0 ? 2 : 0;
}

void print_check_summary(int code, double total_ms) {
  // Set off from the listing; -q prints none.
  if (!tarvel_options.quiet) printf("\n");
  if (tarvel_options.program != nullptr) {
    printf("tarvel --check --program %s: %d CVs zu schreiben", shown_text(one_job_file()).c_str(),
           list.writes);
    if (tarvel_options.backup != nullptr) printf(", %d zu sichern", list.count);
  } else {
    printf("tarvel --check --compare %s: %d CVs zu vergleichen", shown_text(one_job_file()).c_str(),
           list.count);
  }
  printf(", %d Zeilen ung\x81ltig", list.refused);
  if (code == 3) printf(", keine CV-Zeile");
  if (code != 3) printf(", Dauer %.1f s", total_ms / 1000);
  printf(" (Exit-Code %d)\n", code);
  fflush(stdout);
}
}  // namespace

int dry_run_job(void) {
  // -q: only the refused lines and the summary.
  int listed = tarvel_options.program != nullptr && !tarvel_options.quiet;
  int show = listed ? JOB_CV_LIST_ALL : JOB_CV_LIST_REFUSALS;
  job_cv_list_make(show, &list);
  // The backup's file is made and removed again, as a run would make it.
  if (tarvel_options.backup != nullptr) {
    if (make_backup_file() != KEEP_RUNNING) return JOB_FILE_FAILED;
    replacement_abandon();
  }
  if (tarvel_options.compare != nullptr && !tarvel_options.quiet) list_compared_cvs();
  int code = check_code();
  double total_ms = 0;
  if (code != 3) {
    int reads =
        tarvel_options.program != nullptr && tarvel_options.backup == nullptr ? 0 : list.count;
    int writes = tarvel_options.program != nullptr ? list.writes : 0;
    total_ms = print_duration(reads, writes);
  }
  print_check_summary(code, total_ms);
  return code;
}
