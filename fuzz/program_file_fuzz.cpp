// Any bytes as a program file: the check either refuses it or keeps exactly the
// records up to and including the first end record, each complete.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "updater/updater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (size == 0 || file == nullptr) return 0;
  int fault = load_program_file(file);
  fclose(file);
  if (fault != 0) return 0;
  if (program_records.size() + 2 > PROGRAM_FILE_LIMIT) abort();
  size_t at = 0;
  while (at < program_records.size()) {
    int lead = program_records[at++];
    if (lead == END_RECORD) break;
    int body = record_body_length(lead, page_size);
    if (body < 0) abort();
    at += (size_t)body;
  }
  if (at != program_records.size() || program_records.back() != END_RECORD) abort();
  return 0;
}
