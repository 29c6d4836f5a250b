// Times --compare and the backup step of --program --backup in real time on
// the virtual receiver: each reads every CV of a 398-CV data file once, so
// their minimum is 398 reads of 45.4 ms, as for the read-out, and one verify
// of 5.04 ms more for CV 1a's 255 (its complement must be refused); the first
// of them checks the line before (CV 1 read, 16 pairs of verifies).
//   service_jobs_bench [PORT]      (default "sim:")
#include <unistd.h>

#include <cstdio>

#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/job_file.h"
#include "cvtool/jobs.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/safe_start.h"
#include "virtual_receiver/port_plug_in.h"

namespace {
const int cv_reads = 398;
const double read_minimum_ms = 45.4;  // 36 ms of pauses + 36 bytes of 10 bit times
const double verify_ms = 4 + 4 * 10 / 38.4;
const double line_check_ms = (8 + 2 * 16) * verify_ms;

bool write_data_file(const char *name) {
  FILE *file = fopen(name, "w");
  if (file == nullptr) return false;
  for (int bank = 0; bank < 2; bank++)
    for (int cv = 1; cv <= 199; cv++) fprintf(file, "CV %d%s = %d\n", cv, bank ? "a" : "", cv);
  return fclose(file) == 0;
}

// Runs job and prints its time against the minimum (with the line's check
// where the job makes it). False when it read other than every CV.
bool time_job(const char *name, int (*job)(void), bool checks_the_line) {
  job_counts = {};
  int64_t start = clock_now_us();
  int code = job();
  double elapsed_s = (clock_now_us() - start) / 1e6;
  int reads = job_counts.cvs_read + job_counts.read_failures;
  double extra_ms = verify_ms + (checks_the_line ? line_check_ms : 0);
  double minimum_s = (cv_reads * read_minimum_ms + extra_ms) / 1000.0;
  printf(
      "\n%-8s %d CVs in %.3f s, minimum %d x %.1f ms + %.1f ms = %.3f s, ratio %.4f (target <= "
      "1.02)\n",
      name, reads, elapsed_s, cv_reads, read_minimum_ms, extra_ms, minimum_s,
      elapsed_s / minimum_s);
  return code == 0;
}

int compare_job(void) {
  compare_cvs();
  return job_counts.cvs_read == cv_reads ? 0 : 1;
}

int backup_job(void) {
  int code = make_backup_file();
  if (code != KEEP_RUNNING) return code;
  code = backup_cvs();
  job_counts.cvs_read = code == 0 ? cv_reads : 0;  // a saved backup read them all
  return code;
}
}  // namespace

int main(int argc, char **argv) {
  platform_safe_start();
  virtual_receiver_plug_in();
  const char *port = argc > 1 ? argv[1] : "sim:";
  char backup[64];
  snprintf(data_file_name, DATA_FILE_NAME_SIZE, "/tmp/service_bench_%d.txt", (int)getpid());
  snprintf(backup, sizeof backup, "/tmp/service_bench_%d.old", (int)getpid());
  // Both jobs work from the file's one reading, as a job from the command line.
  if (!write_data_file(data_file_name) || job_file_read(data_file_name) != 0) return 1;
  tarvel_options.job = COMPARE_JOB;
  tarvel_options.compare = data_file_name;
  tarvel_options.backup = backup;
  timeBeginPeriod(1);
  if (open_port(port, 38400, 8, 0, 1, 12, 12) != 0) return 1;
  reset_receiver(2000);
  bool compared = time_job("compare:", compare_job, true);
  tarvel_options.job = PROGRAM_JOB;
  tarvel_options.compare = nullptr;
  tarvel_options.program = data_file_name;
  bool backed_up = time_job("backup:", backup_job, false);
  remove(data_file_name);
  remove(backup);
  return compared && backed_up ? 0 : 1;
}
