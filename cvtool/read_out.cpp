// `a`: read CVs 1 to 199 of both banks out of the receiver into the data file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/safe_start.h"
#include "platform/shown_text.h"

#define READ_OUT_LAST_CV 199
#define READ_TRIES 5

namespace {
// Why a read-out ended before its last CV.
enum { READ_OUT_DONE, READ_OUT_ESCAPED, READ_OUT_FILE_FAILED, READ_OUT_PORT_FAILED };

// The error of the first write into the data file that failed, taken when it
// failed: messages printed since then may have changed errno. 0: none.
int file_error;

void note_file_error(FILE *file) {
  if (ferror(file) && file_error == 0) file_error = errno;
}

// Only a regular file can take a read-out. Returns 0 when the name may be
// opened for writing (also when nothing is there yet); otherwise says why not
// and forgets the name, so that the next command asks for another.
int refuse_unusable_file(void) {
  struct stat status;
  if (stat(data_file_name, &status) != 0 || S_ISREG(status.st_mode)) return 0;
  report_file_error(data_file_name, S_ISDIR(status.st_mode) ? EISDIR : ENOTREGULAR);
  job_counts.file_errors++;
  memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  Sleep(1000);
  return -1;
}

// Asks before an existing file is overwritten. Returns 0 to go on; otherwise
// the name is emptied so that the next command asks for a file.
int confirm_overwrite(void) {
  if (tarvel_options.force) return 0;
  // stat, not an open for reading: a file we may not read can still be one
  // we would overwrite.
  struct stat status;
  if (stat(data_file_name, &status) != 0) return 0;
  printf("%s existiert bereits! L\x94schen? ", shown_text(data_file_name).c_str());
  int key = wait_key();
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  if (key == 'J' || key == 'Y') return 0;
  memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  return -1;
}

// Reads the selected CV, up to five times; one line into the file and one on
// the console. Returns -1, writing nothing, when bytes stopped reaching the
// port: a read without its questions says nothing about the receiver.
int read_out_one(FILE *file) {
  int number = cv_selection.number;
  int alternative = cv_selection.bank;
  unsigned failed_before = failed_writes;
  int value = -1;
  for (int attempt = 0; attempt < READ_TRIES && value < 0; attempt++) {
    value = read_cv();
    if (failed_writes != failed_before) return -1;
  }
  if (value < 0) {
    const char *failed = alternative ? "CV %3da: Lesefehler!\n" : "CV %3d: Lesefehler!\n";
    fprintf(file, failed, number);
    note_file_error(file);
    printf(failed, number);
    job_counts.read_failures++;
    return 0;
  }
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  fprintf(file, alternative ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", number, value,
          binary);
  note_file_error(file);
  printf("CV %3d  = %3d (b%s)\r", number, value, binary);
  job_counts.cvs_read++;
  return 0;
}

// Takes a key that is waiting; 1 when it was ESC.
int escape_pressed(void) {
  return key_waiting() && wait_key() == KEY_ESC;
}

// Reads one CV into file and looks for ESC. Returns READ_OUT_DONE to go on.
int read_out_step(FILE *file, int number, int bank) {
  cv_selection.number = number;
  cv_selection.bank = bank;
  if (read_out_one(file) != 0) return READ_OUT_PORT_FAILED;
  progress_step(2 * number - 1 + bank, READ_OUT_CVS);
  if (ferror(file)) return READ_OUT_FILE_FAILED;
  return escape_pressed() ? READ_OUT_ESCAPED : READ_OUT_DONE;
}

// Reads every CV into file. Returns READ_OUT_DONE, or why it stopped early.
int read_out_all(FILE *file) {
  for (int number = 1; number <= READ_OUT_LAST_CV; number++) {
    int stop = read_out_step(file, number, 0);
    if (stop == READ_OUT_DONE) stop = read_out_step(file, number, 1);
    if (stop != READ_OUT_DONE) return stop;
  }
  return READ_OUT_DONE;
}

FILE *open_read_out_file(void) {
  if (refuse_unusable_file() != 0 || confirm_overwrite() != 0) return nullptr;
  FILE *file = open_regular_file(data_file_name, "w");
  if (file != nullptr) return file;
  int error = errno;
  report_file_error(data_file_name, error);
  job_counts.file_errors++;
  // Something other than a file appeared after the check: not to be used again.
  if (error == EISDIR || error == ENOTREGULAR) memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  Sleep(1000);
  return nullptr;
}
}  // namespace

void read_out_cvs(void) {
  select_data_file();
  FILE *file = open_read_out_file();
  if (file == nullptr) return;
  printf("\nAbbruch mit ESC\n");
  file_error = 0;
  unsigned failed_before = failed_writes;
  progress_begin("tarvel: Auslesen");
  int stopped = read_out_all(file);
  progress_end();
  // The menu closes the file; flush it here so that a failed write is told,
  // not lost at the close.
  if (fflush(file) != 0) note_file_error(file);
  if (file_error != 0 || ferror(file)) {
    printf("\n");
    report_file_error(data_file_name, file_error != 0 ? file_error : EIO);
    printf("Die Datei %s ist unvollst\x84ndig.\n", shown_text(data_file_name).c_str());
    job_counts.file_errors++;
    Sleep(1000);
  } else if (stopped == READ_OUT_PORT_FAILED) {
    printf("\nSchreibfehler: %u Bytes nicht gesendet!\n", failed_writes - failed_before);
    printf("Die Datei %s ist unvollst\x84ndig.\n", shown_text(data_file_name).c_str());
    Sleep(1000);
  } else if (stopped != READ_OUT_DONE) {
    printf("\nAbgebrochen: %s ist unvollst\x84ndig.\n", shown_text(data_file_name).c_str());
  }
}
