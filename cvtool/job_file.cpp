#include "cvtool/job_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/safe_start.h"

namespace {
std::vector<JobFileLine> lines;
// The refused lines' texts, each ended by a NUL; text_at[i] is where line i's
// begins (a CV line points at the empty text at 0).
std::string texts(1, '\0');
std::vector<unsigned> text_at;

void keep_line(unsigned number, int verdict, const DataLine &cv, const char *text) {
  unsigned at = 0;
  if (verdict != DATA_LINE_CV) {
    at = (unsigned)texts.size();
    texts.append(text);
    texts.push_back('\0');
  }
  lines.push_back(JobFileLine{number, verdict, cv});
  text_at.push_back(at);
}

void take_line(const char *line, int too_long, unsigned number) {
  DataLine cv = {0, 0, 0};
  int verdict = too_long ? DATA_LINE_TOO_LONG : parse_data_file_line(line, &cv);
  if (verdict != DATA_LINE_BLANK) keep_line(number, verdict, cv, line);
}

// Whether an open file is small enough to be held; errno EFBIG when not.
bool fits(FILE *file) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0) return false;
  if (status.st_size <= JOB_FILE_MAX_BYTES) return true;
  errno = EFBIG;
  return false;
}

// Reads the lines of file; 0, or -1 with errno set.
int read_lines(FILE *file) {
  static char line[DATA_FILE_LINE_SIZE];
  unsigned number = 0;
  // At least the bytes read so far: a file that grows while it is read is
  // held to the same limit.
  long taken = 0;
  int read;
  errno = 0;
  while ((read = read_data_file_line(file, line)) >= 0) {
    take_line(line, read == 1, ++number);
    taken += read == 1 ? DATA_FILE_LINE_SIZE : (long)strlen(line) + 1;
    if (taken > JOB_FILE_MAX_BYTES) {
      errno = EFBIG;
      return -1;
    }
  }
  if (!ferror(file)) return 0;
  if (errno == 0) errno = EIO;
  return -1;
}
}  // namespace

int job_file_read(const char *name) {
  lines.clear();
  text_at.clear();
  texts.assign(1, '\0');
  FILE *file = open_regular_file(name, "r");
  if (file == nullptr) return -1;
  int result = fits(file) ? read_lines(file) : -1;
  int error = errno;
  close_regular_file(file);
  if (result != 0) {
    lines.clear();
    text_at.clear();
  }
  errno = error;
  return result;
}

int job_file_line_count(void) {
  return (int)lines.size();
}

const JobFileLine *job_file_line(int index) {
  return &lines[index];
}

const char *job_file_text(int index) {
  return texts.c_str() + text_at[index];
}
