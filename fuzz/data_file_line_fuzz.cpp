// Any bytes as a data file: every line, without its line end, either parses to
// a CV in range or is refused, and the message about a refused line holds no
// control the terminal could obey, only its own line end. Each line is also
// taken as a command line's list of CVs (--cvs, --read) and of CV=VALUE pairs
// (--write): either refused with a reason, or CVs in range, each once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cvtool/cv_list_arg.h"
#include "cvtool/data_file_line.h"

namespace {
bool obeyable(const std::string &message) {
  if (message.empty() || message.back() != '\n') return true;
  for (size_t i = 0; i + 1 < message.size(); i++) {
    unsigned char byte = (unsigned char)message[i];
    if (byte < 0x20 || byte == 0x7F) return true;
    unsigned char next = (unsigned char)message[i + 1];
    if (byte == 0xC2 && next >= 0x80 && next < 0xA0) return true;
  }
  return false;
}

void check_list(const JobCvList &list) {
  bool seen[2][257] = {};
  if (list.count < 1 || list.count > JOB_CV_LIST_SIZE) abort();
  for (int i = 0; i < list.count; i++) {
    const JobCv &cv = list.cvs[i];
    if (cv.number < 1 || cv.number > 256 || (cv.bank != 0 && cv.bank != 1)) abort();
    if (cv.value < 0 || cv.value > 255 || seen[cv.bank][cv.number]) abort();
    seen[cv.bank][cv.number] = true;
  }
}

void check_lists(const char *line) {
  static JobCvList list;
  CvListError error = {"", nullptr};
  if (cv_list_parse(line, &list, &error) == 0) {
    check_list(list);
  } else if (error.reason == nullptr) {
    abort();
  }
  error.reason = nullptr;
  if (cv_values_parse(line, &list, &error) == 0) {
    check_list(list);
  } else if (error.reason == nullptr) {
    abort();
  }
}

void check_line(const char *line, int read, unsigned line_number) {
  if (read == 1) {
    if (obeyable(data_line_refusal(DATA_LINE_TOO_LONG, line, line_number))) abort();
    return;
  }
  check_lists(line);
  DataLine found = {0, -1, -1};
  int verdict = parse_data_file_line(line, &found);
  if (verdict == DATA_LINE_CV) {
    if (found.number < 1 || found.number > 256 || (found.bank != 0 && found.bank != 1) ||
        found.value < 0 || found.value > 255)
      abort();
    return;
  }
  if (verdict < DATA_LINE_BLANK || verdict > DATA_LINE_VALUE_RANGE) abort();
  if (verdict == DATA_LINE_BLANK && line[strspn(line, " \t")] != '\0') abort();
  if (obeyable(data_line_refusal(verdict, line, line_number))) abort();
  if (obeyable(data_line_refusal(verdict, line, 0))) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (size == 0 || file == nullptr) return 0;
  char line[DATA_FILE_LINE_SIZE];
  int read;
  unsigned line_number = 0;
  while ((read = read_data_file_line(file, line)) >= 0) {
    if (read > 1 || strlen(line) >= DATA_FILE_LINE_SIZE) abort();
    // A line end is never part of a line, whichever of the three it was.
    if (strpbrk(line, "\r\n") != nullptr) abort();
    check_line(line, read, ++line_number);
  }
  fclose(file);
  return 0;
}
