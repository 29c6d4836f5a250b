// `a`: read CVs 1 to 199 of both banks out of the receiver into the data file
// (--read-out with --cvs: the CVs of LIST, in its order).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "cvtool/binary_text.h"
#include "cvtool/cv_list_arg.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "services/file_replace.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"
#include "services/file_errors.h"

#define READ_OUT_LAST_CV 199
#define READ_TRIES 5

namespace {
// Why a read-out ended before its last CV.
enum {
  READ_OUT_DONE,
  READ_OUT_ESCAPED,
  READ_OUT_FILE_FAILED,
  READ_OUT_PORT_FAILED,
  READ_OUT_LINE_FAILED
};

// The error of the first write into the new file that failed, taken when it
// failed: messages printed since then may have changed errno. 0: none.
int file_error;

// The user agreed that the file at the name is replaced (J, --force); else the
// read-out never lands on a file that appeared while it ran.
int replace_agreed;

// Writes one line into the new file; a failed write stops the read-out.
int write_line(int worth_keeping, const char *format, int number, int value, const char *binary) {
  if (replacement_line(worth_keeping, format, number, value, binary) == 0) return 0;
  if (file_error == 0) file_error = errno;
  return -1;
}

// Only a regular file can take a read-out. Returns 0 when the name may be
// written (also when nothing is there yet); otherwise says why not and
// forgets the name, so that the next command asks for another.
int refuse_unusable_file(void) {
  struct stat status;
  if (stat(data_file_name, &status) != 0 || S_ISREG(status.st_mode)) return 0;
  report_file_error(data_file_name, S_ISDIR(status.st_mode) ? EISDIR : ENOTREGULAR);
  job_counts.file_errors++;
  memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  Sleep(FILE_ERROR_PAUSE_MS);
  return -1;
}

// Asks before an existing file is replaced. Returns 0 to go on; otherwise
// the name is emptied so that the next command asks for a file.
int confirm_overwrite(void) {
  replace_agreed = tarvel_options.force;
  if (tarvel_options.force) return 0;
  // stat, not an open for reading: a file we may not read can still be one
  // we would overwrite.
  struct stat status;
  if (stat(data_file_name, &status) != 0) return 0;
  printf("%s existiert bereits! L\x94schen? ", shown_text(data_file_name).c_str());
  int key = wait_key();
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  replace_agreed = key == 'J' || key == 'Y';
  if (replace_agreed) return 0;
  memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  return -1;
}

// Reads the selected CV, up to five times; one line into the file and one on
// the console. Returns READ_OUT_PORT_FAILED, writing nothing, when bytes
// stopped reaching the port: a read without its questions says nothing about
// the receiver.
int read_out_one(void) {
  int number = cv_selection.number;
  int alternative = cv_selection.bank;
  unsigned failed_before = failed_writes;
  int value = -1;
  for (int attempt = 0; attempt < READ_TRIES && value < 0; attempt++) {
    // Five tries cannot help a line that does not serve; it has been named.
    if (line_ready() != 0) {
      return failed_writes != failed_before ? READ_OUT_PORT_FAILED : READ_OUT_LINE_FAILED;
    }
    value = read_cv();
    if (failed_writes != failed_before) return READ_OUT_PORT_FAILED;
  }
  json_cv_read(number, alternative, value);
  if (value < 0) {
    const char *failed = alternative ? "CV %3da: Lesefehler!\n" : "CV %3d: Lesefehler!\n";
    job_counts.read_failures++;
    if (write_line(0, failed, number, 0, "") != 0) return READ_OUT_FILE_FAILED;
    printf(failed, number);
    return READ_OUT_DONE;
  }
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  job_counts.cvs_read++;
  if (write_line(1, alternative ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", number, value,
                 binary) != 0) {
    return READ_OUT_FILE_FAILED;
  }
  // An alternative CV shows its "a", as in the file: its value under the
  // normal CV's name would be a wrong value on the screen.
  if (job_progress_shown()) {
    printf(alternative ? "CV %3da = %3d (b%s)\r" : "CV %3d  = %3d (b%s)\r", number, value, binary);
  }
  return READ_OUT_DONE;
}

// Takes a key that is waiting; 1 when it was ESC.
int escape_pressed(void) {
  return key_waiting() && wait_key() == KEY_ESC;
}

// Reads one CV, the done-th, into the file and looks for ESC. Returns
// READ_OUT_DONE to go on.
int read_out_step(int number, int bank, int done) {
  cv_selection.number = number;
  cv_selection.bank = bank;
  int stop = read_out_one();
  if (stop != READ_OUT_DONE) return stop;
  progress_step(done, read_out_cv_count());
  return escape_pressed() ? READ_OUT_ESCAPED : READ_OUT_DONE;
}

// Reads every CV into the file. Returns READ_OUT_DONE, or why it stopped early.
int read_out_all(void) {
  if (tarvel_options.cvs != nullptr) {
    for (int i = 0; i < command_line_cvs.count; i++) {
      int stop = read_out_step(command_line_cvs.cvs[i].number, command_line_cvs.cvs[i].bank, i + 1);
      if (stop != READ_OUT_DONE) return stop;
    }
    return READ_OUT_DONE;
  }
  for (int number = 1; number <= READ_OUT_LAST_CV; number++) {
    int stop = read_out_step(number, 0, 2 * number - 1);
    if (stop == READ_OUT_DONE) stop = read_out_step(number, 1, 2 * number);
    if (stop != READ_OUT_DONE) return stop;
  }
  return READ_OUT_DONE;
}

// The target stays as it was; says so, and where the lines read went.
void keep_target(void) {
  const char *kept = replacement_abandon();
  if (kept != nullptr) {
    printf("Die gelesenen Zeilen stehen in %s, %s ist unver\x84ndert.\n", shown_text(kept).c_str(),
           shown_text(data_file_name).c_str());
  } else {
    printf("%s ist unver\x84ndert.\n", shown_text(data_file_name).c_str());
  }
}

// A file appeared at the name while the read-out ran: it stays, and the
// read-out is kept beside it.
void report_file_appeared(void) {
  const char *kept = replacement_abandon();
  printf("\n%s ist w\x84hrend des Auslesens entstanden und bleibt unver\x84ndert.\n",
         shown_text(data_file_name).c_str());
  if (kept != nullptr) printf("Die gelesenen Zeilen stehen in %s.\n", shown_text(kept).c_str());
  job_counts.file_errors++;
  Sleep(FILE_ERROR_PAUSE_MS);
}

void report_file_failure(int error) {
  printf("\n");
  report_file_error(data_file_name, error);
  job_counts.file_errors++;
  keep_target();
  Sleep(FILE_ERROR_PAUSE_MS);
}

// A read-out replaces its file when it ran to its end and read a CV, or when
// the user stopped it; anything else leaves the file as it was.
void finish_read_out(int stopped, unsigned failed_before, int cvs_read) {
  if (stopped == READ_OUT_FILE_FAILED) {
    report_file_failure(file_error != 0 ? file_error : EIO);
  } else if (stopped == READ_OUT_PORT_FAILED) {
    printf("\nSchreibfehler: %u Bytes nicht gesendet!\n", failed_writes - failed_before);
    keep_target();
    Sleep(FILE_ERROR_PAUSE_MS);
  } else if (stopped == READ_OUT_LINE_FAILED) {
    keep_target();
    Sleep(FILE_ERROR_PAUSE_MS);
  } else if (stopped == READ_OUT_DONE && cvs_read == 0) {
    printf("\nKein CV gelesen: ");
    keep_target();
  } else if (replacement_commit() != 0) {
    if (errno == EEXIST) {
      report_file_appeared();
    } else {
      report_file_failure(errno);
    }
  } else if (stopped == READ_OUT_ESCAPED) {
    printf("\nAbgebrochen: %s ist unvollst\x84ndig.\n", shown_text(data_file_name).c_str());
  }
}
}  // namespace

int read_out_cv_count(void) {
  return tarvel_options.cvs != nullptr ? command_line_cvs.count : READ_OUT_CVS;
}

int read_out_open_file(void) {
  if (replacement_temporary_name() != nullptr) return 0;
  if (refuse_unusable_file() != 0 || confirm_overwrite() != 0) return -1;
  if (replacement_open(data_file_name, replace_agreed) == 0) return 0;
  int error = errno;
  report_file_error(data_file_name, error);
  job_counts.file_errors++;
  // Something other than a file appeared after the check: not to be used again.
  if (error == EISDIR || error == ENOTREGULAR) memset(data_file_name, 0, DATA_FILE_NAME_SIZE);
  Sleep(FILE_ERROR_PAUSE_MS);
  return -1;
}

int read_out_cvs(void) {
  int code = select_data_file();
  if (code != KEEP_RUNNING) return code;
  if (read_out_open_file() != 0) return KEEP_RUNNING;
  // A job reads no key.
  if (!one_job_requested()) printf("\nAbbruch mit ESC\n");
  file_error = 0;
  unsigned failed_before = failed_writes;
  int cvs_read_before = job_counts.cvs_read;
  progress_begin("tarvel: Auslesen");
  int stopped = read_out_all();
  progress_end();
  finish_read_out(stopped, failed_before, job_counts.cvs_read - cvs_read_before);
  return KEEP_RUNNING;
}
