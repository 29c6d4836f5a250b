// --json (see json_report.h): the records of the run, kept in memory until
// its end, so that standard output never holds a part of a document.
#include "cvtool/json_report.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/jobs.h"
#include "cvtool/json_text.h"
#include "link/line_check.h"
#include "link/receiver_protocol.h"
#include "platform/safe_start.h"
#include "services/file_errors.h"

namespace {

// The standard output set aside for the document; -1 without --json.
int document_fd = -1;
std::vector<std::string> cv_records;
std::vector<std::string> line_records;
int cvs_backed_up = 0;

const char *const WRITE_OUTCOMES[] = {"written", "confirmed", "unconfirmed", "write_failed"};
const char *const VERDICTS[] = {"unchecked", "serves", "silent", "stuck", "no_confirm"};

std::string number_text(long long value) {
  return std::to_string(value);
}

// A value 0..255, or null for none.
std::string value_text(int value) {
  return value < 0 ? "null" : number_text(value);
}

std::string flag_text(int flag) {
  return flag ? "true" : "false";
}

// The fields every CV record begins with.
std::string cv_head(int number, int bank, const char *action) {
  return "{\"cv\": " + number_text(number) + ", \"bank\": \"" + (bank ? "alternative" : "normal") +
         "\", \"name\": \"" + number_text(number) + (bank ? "a" : "") + "\", \"action\": \"" +
         action + "\"";
}

void add_cv(const std::string &record) {
  cv_records.push_back(record + "}");
}

// The job as the command line asked for it.
const char *job_name(void) {
  // In the order of JobKind; no job is the line's test.
  static const char *const names[] = {"line-test", "read-out", "program",
                                      "compare",   "read",     "write"};
  static_assert(sizeof names / sizeof names[0] == WRITE_JOB + 1, "a name for every job");
  return names[tarvel_options.job];
}

// The CVs named on the command line (--cvs, --read, --write), as given.
const char *cv_list(void) {
  if (tarvel_options.write != nullptr) return tarvel_options.write;
  return tarvel_options.read != nullptr ? tarvel_options.read : tarvel_options.cvs;
}

std::string job_text(void) {
  return std::string("{\"name\": \"") + job_name() +
         "\", \"file\": " + json_string(one_job_file()) +
         ", \"backup\": " + json_string(tarvel_options.backup) +
         ", \"cvs\": " + json_string(cv_list()) +
         ", \"verify\": " + flag_text(tarvel_options.verify) + "}";
}

// The records, one a line.
std::string list_text(const std::vector<std::string> &records) {
  if (records.empty()) return "[]";
  std::string text = "[";
  for (size_t i = 0; i < records.size(); i++) text += (i == 0 ? "\n    " : ",\n    ") + records[i];
  return text + "\n  ]";
}

struct Count {
  const char *name;
  int value;  // -1: null
};

// The counts of the summary line; a count the job has no use for is 0, the
// confirmations without --verify null.
std::string counts_text(void) {
  const JobCounts &c = job_counts;
  int verify = tarvel_options.verify;
  int compare = tarvel_options.compare != nullptr;
  const Count counts[] = {{"cvs_read", c.cvs_read},
                          {"read_failures", c.read_failures},
                          {"cvs_written", c.cvs_written},
                          {"writes_confirmed", verify ? c.cvs_written - c.writes_unconfirmed : -1},
                          {"writes_unconfirmed", verify ? c.writes_unconfirmed : -1},
                          {"cv_lines", c.cv_lines},
                          {"lines_refused", c.lines_refused},
                          {"cvs_compared", compare ? c.cvs_read + c.read_failures : 0},
                          {"cvs_same", compare ? c.cvs_read - c.cvs_differed : 0},
                          {"cvs_differed", c.cvs_differed},
                          {"cvs_backed_up", cvs_backed_up},
                          {"file_errors", c.file_errors}};
  std::string text;
  for (const Count &count : counts) {
    text += text.empty() ? "{" : ", ";
    text += std::string("\"") + count.name + "\": " + value_text(count.value);
  }
  return text + "}";
}

std::string document_text(int exit_code) {
  return "{\n  \"schema_version\": 1,\n  \"program\": \"tarvel\",\n  \"version\": " +
         json_string(PROJECT_VERSION_TEXT) + ",\n  \"port\": " + json_string(command_line_port) +
         ",\n  \"job\": " + job_text() + ",\n  \"line_checks\": " + list_text(line_records) +
         ",\n  \"cvs\": " + list_text(cv_records) + ",\n  \"counts\": " + counts_text() +
         ",\n  \"exit_code\": " + number_text(exit_code) + "\n}\n";
}

// The whole text, however the system parts it. Returns 0, or -1 with errno
// set when it cannot all be written.
int write_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    long written = (long)write(fd, text.data() + done, (unsigned)(text.size() - done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return -1;
    }
    done += (size_t)written;
  }
  return 0;
}

}  // namespace

int json_output_begin(void) {
  if (!tarvel_options.json || tarvel_options.help || tarvel_options.version) return 0;
  fflush(stdout);
  int fd = dup(STDOUT_FILENO);
  if (fd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    fprintf(stderr, "tarvel: --json: Standardausgabe nicht umzulenken: %s\n", strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
#ifdef _WIN32
  // The document's line ends are the same bytes on both builds.
  _setmode(fd, _O_BINARY);
#endif
  document_fd = fd;
  return 0;
}

void json_cv_read(int number, int bank, int value) {
  // Without --json a job spends nothing on records.
  if (document_fd < 0) return;
  add_cv(cv_head(number, bank, "read") + ", \"value\": " + value_text(value) + ", \"outcome\": \"" +
         (value < 0 ? "read_failed" : "read") + "\"");
}

void json_cv_backed_up(int number, int bank, int value) {
  if (document_fd < 0) return;
  if (value >= 0) cvs_backed_up++;
  add_cv(cv_head(number, bank, "backup") + ", \"value\": " + value_text(value) +
         ", \"outcome\": \"" + (value < 0 ? "read_failed" : "read") + "\"");
}

void json_cv_compared(int number, int bank, int file_value, int value) {
  if (document_fd < 0) return;
  const char *outcome = value < 0 ? "read_failed" : value == file_value ? "same" : "differs";
  add_cv(cv_head(number, bank, "compare") + ", \"file_value\": " + value_text(file_value) +
         ", \"value\": " + value_text(value) + ", \"outcome\": \"" + outcome + "\"");
}

void json_cv_written(int number, int bank, int value, int outcome) {
  if (document_fd < 0) return;
  add_cv(cv_head(number, bank, "write") + ", \"written_value\": " + value_text(value & 0xFF) +
         ", \"outcome\": \"" + WRITE_OUTCOMES[outcome] + "\"");
}

void json_line_check(const LineMeasure *measure) {
  if (document_fd < 0) return;
  int verdict = measure->verdict >= LINE_UNCHECKED && measure->verdict <= LINE_NO_CONFIRM
                    ? measure->verdict
                    : LINE_UNCHECKED;
  line_records.push_back(std::string("{\"verdict\": \"") + VERDICTS[verdict] +
                         "\", \"answers\": " + number_text(measure->answers) +
                         ", \"median_us\": " + number_text(measure->median_us) +
                         ", \"min_us\": " + number_text(measure->min_us) +
                         ", \"max_us\": " + number_text(measure->max_us) +
                         ", \"ideal\": " + flag_text(measure->ideal) + ", \"answer_wait_us\": " +
                         number_text(answer_wait_us) + ", \"slow\": " + flag_text(line_slow) + "}");
}

int json_finish(int exit_code) {
  if (document_fd < 0) return exit_code;
  fflush(stdout);
  fflush(stderr);
  int failed = write_all(document_fd, document_text(exit_code));
  int error = errno;
  if (close(document_fd) != 0 && failed == 0) {
    failed = -1;
    error = errno;
  }
  document_fd = -1;
  if (failed == 0) return exit_code;
  // A script that gets no document must not read success from the exit code.
  report_file_error("Standardausgabe", error);
  return exit_code == JOB_PORT_FAILED ? exit_code : JOB_FILE_FAILED;
}
