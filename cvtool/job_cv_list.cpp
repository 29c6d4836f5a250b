#include "cvtool/job_cv_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "cvtool/data_file_line.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/safe_start.h"

#define READ_TRIES 5

namespace {
// Where each CV stands in the list, plus one; 0 while it is not in it.
int position[2][257];

void show_line(int bank, int number, int value) {
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  printf(bank ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", number, value, binary);
}

void refuse_line(int verdict, const char *line, unsigned line_number, int show, JobCvList *list) {
  if (show != JOB_CV_LIST_SILENT)
    printf("%s", data_line_refusal(verdict, line, line_number).c_str());
  list->refused++;
}

void take_line(const char *line, unsigned line_number, int show, JobCvList *list) {
  DataLine found;
  int verdict = parse_data_file_line(line, &found);
  // A blank line asks for nothing.
  if (verdict == DATA_LINE_BLANK) return;
  if (verdict != DATA_LINE_CV) {
    refuse_line(verdict, line, line_number, show, list);
    return;
  }
  list->writes++;
  if (show == JOB_CV_LIST_ALL) show_line(found.bank, found.number, found.value);
  int *at = &position[found.bank][found.number];
  if (*at == 0) {
    list->cvs[list->count].number = found.number;
    list->cvs[list->count].bank = found.bank;
    *at = ++list->count;
  }
  list->cvs[*at - 1].value = found.value;
}
}  // namespace

int job_cv_list_read(const char *name, int show, JobCvList *list) {
  static char line[DATA_FILE_LINE_SIZE];
  memset(list, 0, sizeof *list);
  memset(position, 0, sizeof position);
  FILE *file = open_regular_file(name, "r");
  if (file == nullptr) return -1;
  unsigned line_number = 0;
  int read;
  while ((read = read_data_file_line(file, line)) >= 0) {
    line_number++;
    if (read == 0) {
      take_line(line, line_number, show, list);
    } else {
      refuse_line(DATA_LINE_TOO_LONG, line, line_number, show, list);
    }
  }
  int failed = ferror(file);
  int error = errno;
  fclose(file);
  errno = failed ? (error != 0 ? error : EIO) : 0;
  return failed ? -1 : 0;
}

int job_cv_read(const JobCv *cv, int *value) {
  cv_selection.number = cv->number;
  cv_selection.bank = cv->bank;
  unsigned failed_before = failed_writes;
  *value = -1;
  for (int attempt = 0; attempt < READ_TRIES && *value < 0; attempt++) {
    // Five tries cannot help a line that does not serve.
    if (line_ready() != 0) return failed_writes != failed_before ? -1 : 2;
    *value = read_cv();
    // A read without its questions says nothing about the receiver.
    if (failed_writes != failed_before) return -1;
  }
  return *value < 0 ? 1 : 0;
}

void report_read_failure(const JobCv *cv) {
  char text[32];
  snprintf(text, sizeof text, cv->bank ? "CV %3da: Lesefehler!" : "CV %3d: Lesefehler!",
           cv->number);
  // Blanks cover the rest of the progress line it replaces.
  printf("%-26s\n", text);
}
