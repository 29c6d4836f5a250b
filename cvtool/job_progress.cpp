// The window title during the long commands of the menu: percent done and the
// time left.
#include <cerrno>
#include <cstdio>

#include "cvtool/jobs.h"
#include "services/title_progress.h"

namespace {
// The size of the file being programmed; 0 when it cannot be told (a pipe).
long file_size;

// The file's size, its position left where it was; 0 when it cannot be told.
long size_of(FILE *file) {
  long start = ftell(file);
  if (start < 0 || fseek(file, 0, SEEK_END) != 0) return 0;
  long end = ftell(file);
  if (fseek(file, start, SEEK_SET) != 0) {
    clearerr(file);
    return 0;
  }
  return end > 0 ? end : 0;
}
}  // namespace

void progress_begin(const char *job) {
  title_progress_begin(job);
  title_progress_step(0, 1);
}

void progress_step(long done, long total) {
  title_progress_step(done, total);
}

void progress_file_begin(FILE *file, const char *job) {
  file_size = 0;
  // The title is a side show: errno stays as the file calls left it.
  int saved_errno = errno;
  file_size = size_of(file);
  if (file_size > 0) progress_begin(job);
  errno = saved_errno;
}

void progress_file_step(FILE *file) {
  if (file_size <= 0) return;
  int saved_errno = errno;
  long at = ftell(file);
  if (at >= 0) title_progress_step(at, file_size);
  errno = saved_errno;
}

void progress_end(void) {
  title_progress_end();
}
