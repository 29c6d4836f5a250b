#include "cvtool/job_cv_list.h"

#include <cstdio>
#include <cstring>

#include "cvtool/binary_text.h"
#include "cvtool/line_ready.h"
#include "cvtool/data_file_line.h"
#include "cvtool/job_file.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"

#define READ_TRIES 5

namespace {
// Where each CV stands in the list, plus one; 0 while it is not in it.
int position[2][257];

void show_line(int bank, int number, int value) {
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  printf(bank ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", number, value, binary);
}

void refuse_line(int index, int show, JobCvList *list) {
  const JobFileLine *line = job_file_line(index);
  if (show != JOB_CV_LIST_SILENT)
    printf("%s", data_line_refusal(line->verdict, job_file_text(index), line->number).c_str());
  list->refused++;
}

void take_line(int index, int show, JobCvList *list) {
  const JobFileLine *line = job_file_line(index);
  if (line->verdict != DATA_LINE_CV) {
    refuse_line(index, show, list);
    return;
  }
  const DataLine &found = line->cv;
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

void job_cv_list_make(int show, JobCvList *list) {
  memset(list, 0, sizeof *list);
  memset(position, 0, sizeof position);
  for (int i = 0; i < job_file_line_count(); i++) take_line(i, show, list);
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
