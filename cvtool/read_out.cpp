// `a`: read CVs 1 to 199 of both banks out of the receiver into the data file.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "link/receiver_protocol.h"

#define READ_OUT_LAST_CV 199
#define READ_TRIES 5

namespace {
// Asks before an existing file is overwritten. Returns 0 to go on; otherwise
// the name is emptied so that the next command asks for a file.
int confirm_overwrite(void) {
  if (tarvel_options.force) return 0;
  // stat, not an open for reading: a file we may not read can still be one
  // we would overwrite.
  struct stat status;
  if (stat(data_file_name, &status) != 0) return 0;
  printf("%s existiert bereits! L\x94schen? ", data_file_name);
  int key = wait_key();
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  if (key == 'J' || key == 'Y') return 0;
  memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  return -1;
}

// Reads the selected CV, up to five times; one line into the file and one on
// the console.
void read_out_one(FILE *file) {
  int number = cv_selection.number;
  int alternative = cv_selection.bank;
  int value = -1;
  for (int attempt = 0; attempt < READ_TRIES && value < 0; attempt++) value = read_cv();
  if (value < 0) {
    const char *failed = alternative ? "CV %3da: Lesefehler!\n" : "CV %3d: Lesefehler!\n";
    fprintf(file, failed, number);
    printf(failed, number);
    job_counts.read_failures++;
    return;
  }
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  fprintf(file, alternative ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", number, value,
          binary);
  printf("CV %3d  = %3d (b%s)\r", number, value, binary);
  job_counts.cvs_read++;
}

// Takes a key that is waiting; 1 when it was ESC.
int escape_pressed(void) {
  return key_waiting() && wait_key() == KEY_ESC;
}

// Reads every CV into file. Returns 0, or -1 when ESC or a write error stopped
// it early.
int read_out_all(FILE *file) {
  for (int number = 1; number <= READ_OUT_LAST_CV; number++) {
    cv_selection.number = number;
    cv_selection.bank = 0;
    read_out_one(file);
    progress_step(2 * number - 1, READ_OUT_CVS);
    if (escape_pressed() || ferror(file)) return -1;
    cv_selection.bank = 1;
    read_out_one(file);
    progress_step(2 * number, READ_OUT_CVS);
    if (escape_pressed() || ferror(file)) return -1;
  }
  return 0;
}
}  // namespace

void read_out_cvs(void) {
  select_data_file();
  if (confirm_overwrite() != 0) return;
  FILE *file = fopen(data_file_name, "w");
  if (file == nullptr) {
    perror(data_file_name);
    job_counts.file_errors++;
    Sleep(1000);
    return;
  }
  printf("\nAbbruch mit ESC\n");
  progress_begin("tarvel: Auslesen");
  int stopped = read_out_all(file);
  progress_end();
  // The menu closes the file; flush it here so that a failed write is told,
  // not lost at the close.
  if (fflush(file) != 0 || ferror(file)) {
    printf("\n");
    perror(data_file_name);
    printf("Die Datei %s ist unvollst\x84ndig.\n", data_file_name);
    job_counts.file_errors++;
    Sleep(1000);
  } else if (stopped) {
    printf("\nAbgebrochen: %s ist unvollst\x84ndig.\n", data_file_name);
  }
}
