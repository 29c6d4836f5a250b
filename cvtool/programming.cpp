// `p`: program the CVs that the data file lists into the receiver.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/data_file_line.h"
#include "cvtool/job_file.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/safe_start.h"
#include "services/file_errors.h"

namespace {
// Says why a line is not programmed. A job names the line's number; the
// menu's messages name none.
void refuse_line(int verdict, const char *line, unsigned line_number) {
  unsigned shown_number = one_job_requested() || verdict == DATA_LINE_TOO_LONG ? line_number : 0;
  printf("%s", data_line_refusal(verdict, line, shown_number).c_str());
  job_counts.lines_refused++;
}

// Programs the CV a line names (verdict and found as parsed), or prints why
// the line is refused. Returns 1 when the receiver was written.
int program_found(int verdict, const DataLine &found, const char *line, unsigned line_number) {
  // A blank line asks for nothing; only the menu's p refuses it.
  if (verdict == DATA_LINE_BLANK && one_job_requested()) return 0;
  if (verdict != DATA_LINE_CV) {
    refuse_line(verdict, line, line_number);
    return 0;
  }
  cv_selection.number = found.number;
  cv_selection.bank = found.bank;
  cv_selection.value = found.value;
  job_counts.cv_lines++;
  if (job_progress_shown())
    printf(found.bank ? "CV %3da = %3d\r" : "CV %3d  = %3d\r", found.number, found.value);
  write_selected_cv(0);
  note_programming(1);
  return 1;
}

// The receiver acknowledges no write, but a port that refused bytes (a pulled
// adapter) must not look like a file that was programmed.
void report_failed_writes(unsigned failed_before) {
  unsigned lost = failed_writes - failed_before;
  if (lost > 0) printf("\nSchreibfehler: %u Bytes nicht gesendet!\n", lost);
}

// The menu's p reads the file line by line as it programs; ESC stops it.
void program_file_lines(FILE *file) {
  static char line[DATA_FILE_LINE_SIZE];
  progress_file_begin(file, "tarvel: Programmieren");
  unsigned line_number = 0;
  int read;
  while ((read = read_data_file_line(file, line)) >= 0) {
    line_number++;
    progress_file_step(file);
    DataLine found = {0, 0, 0};
    int verdict = read == 1 ? DATA_LINE_TOO_LONG : parse_data_file_line(line, &found);
    // Keys are looked at only after a line that reached the receiver.
    if (program_found(verdict, found, line, line_number) && key_waiting() && wait_key() == KEY_ESC)
      break;
  }
  progress_end();
  if (ferror(file)) {
    report_file_error(data_file_name, errno);
    job_counts.file_errors++;
  }
}

// A job programs the lines its file held when the job began.
void program_job_lines(void) {
  int count = job_file_line_count();
  progress_begin("tarvel: Programmieren");
  for (int i = 0; i < count; i++) {
    const JobFileLine *line = job_file_line(i);
    program_found(line->verdict, line->cv, job_file_text(i), line->number);
    progress_step(i + 1, count);
    // A receiver that stopped answering is written no more.
    if (line_failed) break;
  }
  progress_end();
}

// Programs the CVs of the chosen data file.
void program_data_file(void) {
  FILE *file = nullptr;
  if (!one_job_requested()) {
    file = open_regular_file(data_file_name, "r");
    if (file == nullptr) {
      report_file_error(data_file_name, errno);
      memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
      job_counts.file_errors++;
      Sleep(FILE_ERROR_PAUSE_MS);
      return;
    }
    printf("\nAbbruch mit ESC\n");
  }
  unsigned failed_before = failed_writes;
  // Writes that are to be confirmed go to a line that was checked first; a
  // line that does not serve is named here, and each write then reported.
  if (tarvel_options.verify) line_ready();
  write_summary_begin();
  note_programming(1);
  if (file != nullptr) {
    program_file_lines(file);
    close_regular_file(file);
  } else {
    program_job_lines();
  }
  note_programming(0);
  report_failed_writes(failed_before);
  write_summary_end();
}
}  // namespace

int program_cvs(void) {
  int code = select_data_file();
  if (code == KEEP_RUNNING) program_data_file();
  return code;
}
