// One job from the command line: `tarvel --read-out FILE PORT` (with --cvs
// LIST), `tarvel --program FILE PORT` (with --backup OLD),
// `tarvel --compare FILE PORT`, `tarvel --read LIST PORT` or
// `tarvel --write CV=VALUE,... PORT`. The usual start, the one command, the
// quit sequence, and an exit code that a script can trust. No key is read and
// nothing waits for a user.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "cvtool/cv_list_arg.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/job_file.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "services/ending_note.h"
#include "services/file_replace.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"
#include "services/file_errors.h"

namespace {

// What a failed backup ended with; 0 while none failed.
int backup_code;

const char *job_file(void) {
  return one_job_file();
}

int refuse_file(const char *why) {
  fprintf(stderr, "%s: %s\n", shown_text(job_file()).c_str(), why);
  return JOB_FILE_FAILED;
}

// --read or --write: CVs from the command line, no file.
bool cv_list_job(void) {
  return tarvel_options.job == READ_JOB || tarvel_options.job == WRITE_JOB;
}

// A list of CVs as the summary shows it: a long one cut after its first
// entries, so that a signal's note (at most 1000 bytes) keeps its words.
std::string shown_list(const char *list) {
  std::string shown = shown_text(list);
  if (shown.size() <= 60) return shown;
  size_t cut = shown.rfind(',', 56);
  return shown.substr(0, cut == std::string::npos ? 56 : cut + 1) + "...";
}

// How the summary and a signal's note name the job: "--program FILE", ...
std::string job_title(void) {
  switch (tarvel_options.job) {
    case READ_JOB:
      return "--read " + shown_list(tarvel_options.read);
    case WRITE_JOB:
      return "--write " + shown_list(tarvel_options.write);
    case READ_OUT_JOB:
      return "--read-out " + shown_text(job_file());
    case COMPARE_JOB:
      return "--compare " + shown_text(job_file());
    default:
      return "--program " + shown_text(job_file());
  }
}

// The job itself, on a line that serves.
void run_the_job(void) {
  switch (tarvel_options.job) {
    case READ_OUT_JOB:
      read_out_cvs();
      break;
    case COMPARE_JOB:
      compare_cvs();
      break;
    case READ_JOB:
      read_cvs_job();
      break;
    case WRITE_JOB:
      write_cvs_job();
      break;
    default:
      if (tarvel_options.backup == nullptr || (backup_code = backup_cvs()) == 0) program_cvs();
      break;
  }
}

int exit_code(unsigned failed_writes_before) {
  if (failed_writes != failed_writes_before) return JOB_PORT_FAILED;
  if (line_failed) return JOB_CV_FAILED;
  if (cv_list_job()) {
    return job_counts.read_failures > 0 || job_counts.writes_unconfirmed > 0 ? JOB_CV_FAILED
                                                                             : JOB_DONE;
  }
  if (job_counts.file_errors > 0) return JOB_FILE_FAILED;
  if (tarvel_options.read_out == nullptr && job_counts.cv_lines == 0) return JOB_FILE_FAILED;
  int cvs_done = job_counts.cvs_read + job_counts.read_failures;
  if (tarvel_options.read_out != nullptr && cvs_done != read_out_cv_count()) return JOB_FILE_FAILED;
  if (job_counts.read_failures > 0 || job_counts.writes_unconfirmed > 0) return JOB_CV_FAILED;
  if (job_counts.cvs_differed > 0) return JOB_CV_FAILED;
  if (job_counts.lines_refused > 0) return JOB_LINES_REFUSED;
  return JOB_DONE;
}

// How many CVs were written, and with --verify how many were confirmed.
void print_writes(void) {
  printf("tarvel %s: %d CVs geschrieben", job_title().c_str(), job_counts.cvs_written);
  if (tarvel_options.verify) {
    printf(", %d best\x84tigt, %d nicht best\x84tigt",
           job_counts.cvs_written - job_counts.writes_unconfirmed, job_counts.writes_unconfirmed);
  }
}

// What the job did, in its summary line.
void print_counts(void) {
  if (tarvel_options.read_out != nullptr || tarvel_options.read != nullptr) {
    int count = tarvel_options.read != nullptr ? command_line_cvs.count : read_out_cv_count();
    printf("tarvel %s: %d von %d CVs gelesen, %d Lesefehler", job_title().c_str(),
           job_counts.cvs_read, count, job_counts.read_failures);
  } else if (tarvel_options.compare != nullptr) {
    print_compare_counts();
  } else {
    print_writes();
    if (tarvel_options.write != nullptr) return;
    // A line found unusable at the start left the file unread.
    int file_read = !line_failed || job_counts.cv_lines + job_counts.lines_refused > 0;
    if (backup_code == 0 && file_read) printf(", %d Zeilen ung\x81ltig", job_counts.lines_refused);
    if (tarvel_options.backup != nullptr) print_backup_summary();
  }
}

void print_summary(int code) {
  // --read and --write say nothing beyond their CVs with -q: a script reads
  // the lines of --read and the exit code.
  if (cv_list_job() && tarvel_options.quiet) return;
  // On a terminal the last progress line ends in CR.
  if (job_progress_shown() && tarvel_options.read == nullptr) printf("\n");
  print_counts();
  if (backup_code != 0) {
    // The backup has said what failed.
  } else if (code == JOB_FILE_FAILED && job_counts.file_errors == 0 &&
             tarvel_options.read_out == nullptr && !cv_list_job()) {
    printf(", keine CV-Zeile");
  } else if (code == JOB_FILE_FAILED) {
    printf(", Datei fehlerhaft");
  }
  if (code == JOB_PORT_FAILED) printf(", Schnittstelle ausgefallen");
  if (line_failed && code == JOB_CV_FAILED) printf(", Leitung unbrauchbar");
  printf(" (Exit-Code %d)\n", code);
  fflush(stdout);
}

#ifdef _WIN32
// A word of a command for cmd: a name with a blank or an operator in quotes.
std::string command_word(const char *text) {
  if (text[0] != '\0' && strpbrk(text, " \t&|<>^()\"") == nullptr) return shown_text(text);
  return "\"" + shown_text(text) + "\"";
}
#else
// A word of a command for the shell: anything beyond plain characters in
// single quotes.
std::string command_word(const char *text) {
  const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./:+,=@%-";
  if (text[0] != '\0' && strspn(text, plain) == strlen(text)) return shown_text(text);
  std::string quoted = "'";
  for (const char *c = text; *c != '\0'; c++)
    quoted += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
  return shown_text((quoted + "'").c_str());
}
#endif

// What gives the receiver its old values back, once there is a backup.
std::string restore_command(void) {
  if (tarvel_options.backup == nullptr || command_line_port == nullptr) return "";
  return "Die alten Werte stellt wieder her: tarvel --program " +
         command_word(tarvel_options.backup) + " " + command_word(command_line_port) + "\n";
}

}  // namespace

void note_programming(int writing) {
  if (!one_job_requested() || !writing) {
    ending_note_set(nullptr);
    return;
  }
  static const std::string restore = restore_command();
  char text[1200];
  int written = job_counts.cvs_written;
  if (written == 0) {
    snprintf(text, sizeof text, "\ntarvel %s: abgebrochen, kein CV geschrieben.\n",
             job_title().c_str());
  } else {
    snprintf(text, sizeof text,
             "\ntarvel %s: abgebrochen nach %d geschriebenen %s, der Empf\x84nger "
             "ist jetzt teilweise programmiert.\n%s",
             job_title().c_str(), written, written == 1 ? "CV" : "CVs", restore.c_str());
  }
  ending_note_set(text);
}

int job_progress_shown(void) {
  if (!one_job_requested()) return 1;
  // The descriptor, not the stream: standard output may be a stream of the
  // console layer that has no descriptor of its own.
  return !tarvel_options.quiet && isatty(STDOUT_FILENO);
}

int one_job_requested(void) {
  return tarvel_options.job != NO_JOB;
}

int runs_unattended(void) {
  return one_job_requested() || tarvel_options.line_test;
}

const char *one_job_file(void) {
  switch (tarvel_options.job) {
    case READ_OUT_JOB:
      return tarvel_options.read_out;
    case PROGRAM_JOB:
      return tarvel_options.program;
    case COMPARE_JOB:
      return tarvel_options.compare;
    default:
      return nullptr;
  }
}

// The file is opened as the menu opens it, so that a FIFO or a device is
// refused at once instead of blocking; a file to program or compare is read
// whole here, before the port is touched.
int check_one_job_file(void) {
  const char *name = job_file();
  // --read and --write have no file.
  if (name == nullptr) return KEEP_RUNNING;
  if (tarvel_options.read_out == nullptr) {
    // The one reading of the file: whatever happens to it later, the job
    // does what it said when the job began.
    if (job_file_read(name) != 0) return refuse_file(file_error_text(errno));
  } else {
    struct stat status;
    if (stat(name, &status) == 0 && S_ISREG(status.st_mode) && !tarvel_options.force) {
      return refuse_file(
          "existiert bereits (--force \x81"
          "berschreibt)");
    }
  }
  memcpy(data_file_name, name, strlen(name) + 1);
  return check_backup_file();
}

// Before the port is opened, so that a target that cannot take a new file
// resets no receiver.
int make_one_job_file(void) {
  if (tarvel_options.read_out != nullptr &&
      replacement_open(job_file(), tarvel_options.force) != 0) {
    return refuse_file(file_error_text(errno));
  }
  return make_backup_file();
}

int run_one_job(void) {
  unsigned failed_writes_before = failed_writes;
  memset(&job_counts, 0, sizeof job_counts);
  // A key typed meanwhile must not stop a job that a script started.
  console_keys_ignored = 1;
  // The job's file is the data file, so no file is ever asked for here.
  if (line_ready() != 0) {
    // Nothing was read, nor may anything be written: no file is replaced.
    replacement_abandon();
  } else {
    run_the_job();
  }
  _fcloseall();
  int code = backup_code != 0 ? backup_code : exit_code(failed_writes_before);
  if (quit_and_check() != 0) code = JOB_PORT_FAILED;
  print_summary(code);
  return code;
}
