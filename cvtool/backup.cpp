// --program FILE --backup OLD: before the first write, the current value of
// every CV that FILE will write goes into OLD, in the read-out's lines, so
// that `--program OLD` puts the receiver back as it was. OLD is written
// beside its place and takes it only when complete; a backup that cannot be
// completed lets nothing be written.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "cvtool/job_cv_list.h"
#include "link/serial_port.h"
#include "services/file_replace.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"
#include "services/file_errors.h"

namespace {
enum { BACKUP_NONE, BACKUP_SAVED, BACKUP_EMPTY, BACKUP_FAILED, BACKUP_KEPT };

JobCvList list;
int backup_state = BACKUP_NONE;
// Where a complete backup went when a file appeared at OLD meanwhile.
std::string kept_backup;

// OLD as the screen may show it: a control in the name is a glyph.
std::string shown_backup(void) {
  return shown_text(tarvel_options.backup);
}

int refuse_backup(const char *why) {
  fprintf(stderr, "%s: %s\n", shown_backup().c_str(), why);
  return JOB_FILE_FAILED;
}

// Two names of one file. Where the system gives no file numbers (st_ino 0 on
// Windows) only the same name counts.
bool same_file(const char *a, const char *b) {
  if (strcmp(a, b) == 0) return true;
  struct stat first, second;
  if (stat(a, &first) != 0 || stat(b, &second) != 0) return false;
  return first.st_ino != 0 && first.st_ino == second.st_ino && first.st_dev == second.st_dev;
}

int give_up(int code) {
  replacement_abandon();
  if (backup_state == BACKUP_KEPT) {
    printf("Die Sicherung steht in %s, %s ist unver\x84ndert: nichts geschrieben.\n",
           shown_text(kept_backup.c_str()).c_str(), shown_backup().c_str());
    return code;
  }
  backup_state = BACKUP_FAILED;
  printf("\nSicherung %s unvollst\x84ndig: nichts geschrieben.\n", shown_backup().c_str());
  return code;
}

// Reads one CV into OLD. Returns 0, or the job's exit code.
int back_up_one(const JobCv *cv, unsigned failed_before) {
  int value;
  int read = job_cv_read(cv, &value);
  if (read < 0) {
    printf("\nSchreibfehler: %u Bytes nicht gesendet!\n", failed_writes - failed_before);
    return 4;
  }
  json_cv_backed_up(cv->number, cv->bank, read == 0 ? value : -1);
  if (read > 0) {
    report_read_failure(cv);
    return 1;
  }
  char binary[BINARY_TEXT_SIZE];
  binary_text(value, binary);
  // Nothing in it is worth keeping apart: the receiver is not touched yet.
  if (replacement_line(0, cv->bank ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", cv->number,
                       value, binary) != 0) {
    report_file_error(tarvel_options.backup, errno);
    return 3;
  }
  if (job_progress_shown()) {
    printf(cv->bank ? "CV %3da = %3d (b%s)\r" : "CV %3d  = %3d (b%s)\r", cv->number, value, binary);
  }
  return 0;
}

int back_up_all(void) {
  unsigned failed_before = failed_writes;
  progress_begin("tarvel: Sichern");
  int code = 0;
  for (int i = 0; i < list.count && code == 0; i++) {
    code = back_up_one(&list.cvs[i], failed_before);
    progress_step(i + 1, list.count);
  }
  progress_end();
  return code;
}

// Puts OLD in its place; an OLD that appeared meanwhile is not replaced
// without --force: the backup is then kept beside it.
int save_backup(void) {
  if (replacement_commit() == 0) return 0;
  int error = errno;
  if (error != EEXIST) {
    report_file_error(tarvel_options.backup, error);
    return 3;
  }
  fprintf(stderr,
          "%s: existiert bereits (--force \x81"
          "berschreibt)\n",
          shown_backup().c_str());
  const char *kept = replacement_abandon();
  if (kept != nullptr) {
    kept_backup = kept;
    backup_state = BACKUP_KEPT;
  }
  return 3;
}
}  // namespace

int check_backup_file(void) {
  const char *old = tarvel_options.backup;
  if (old == nullptr) return KEEP_RUNNING;
  if (same_file(old, tarvel_options.program)) return refuse_backup("ist die Datei von --program");
  struct stat status;
  if (stat(old, &status) != 0) return KEEP_RUNNING;
  if (S_ISDIR(status.st_mode)) return refuse_backup(file_error_text(EISDIR));
  if (!S_ISREG(status.st_mode)) return refuse_backup(file_error_text(ENOTREGULAR));
  if (tarvel_options.force) return KEEP_RUNNING;
  return refuse_backup(
      "existiert bereits (--force \x81"
      "berschreibt)");
}

int make_backup_file(void) {
  if (tarvel_options.backup != nullptr &&
      replacement_open(tarvel_options.backup, tarvel_options.force) != 0) {
    return refuse_backup(file_error_text(errno));
  }
  return KEEP_RUNNING;
}

int backup_cvs(void) {
  job_cv_list_make(JOB_CV_LIST_SILENT, &list);
  if (list.count == 0) {
    // Nothing will be written, so there is nothing to keep.
    replacement_abandon();
    backup_state = BACKUP_EMPTY;
    return 0;
  }
  // -q: the job's summary alone says where the backup went.
  if (!tarvel_options.quiet) printf("\nSichern nach %s\n", shown_backup().c_str());
  int code = back_up_all();
  if (code == 0) code = save_backup();
  if (code != 0) return give_up(code);
  backup_state = BACKUP_SAVED;
  // The last progress line ends in CR: the count goes on a line of its own.
  if (!tarvel_options.quiet) {
    printf("%s%d CVs gesichert in %s\n", job_progress_shown() ? "\n" : "", list.count,
           shown_backup().c_str());
  }
  return 0;
}

void print_backup_summary(void) {
  if (backup_state == BACKUP_SAVED)
    printf(", %d CVs gesichert in %s", list.count, shown_backup().c_str());
  if (backup_state == BACKUP_EMPTY) printf(", nichts zu sichern");
  if (backup_state == BACKUP_FAILED)
    printf(", Sicherung %s unvollst\x84ndig", shown_backup().c_str());
  if (backup_state == BACKUP_KEPT)
    printf(", Sicherung in %s", shown_text(kept_backup.c_str()).c_str());
}
