// morrex --check: the program file checked exactly as a run checks it before
// the reset, and what the update would be: CPU, page size, pages, and its
// length on the line, from the protocol's pauses and ten bit times at 38400
// baud for every byte. No port is opened, nothing waits.
#include <cerrno>

#include "platform/safe_start.h"
#include "services/shown_text.h"
#include "updater/updater.h"
#include "services/file_errors.h"

namespace {
const double BYTE_MS = 10.0 / 38.4;

// What the records hold.
struct RecordCounts {
  int pages;
  int single_bytes;
};

RecordCounts count_records(void) {
  RecordCounts counts = {0, 0};
  for (size_t at = 0; at < program_records.size();) {
    BYTE lead = program_records[at];
    if (lead == PAGE_RECORD) counts.pages++;
    if (lead == SINGLE_BYTE_RECORD) counts.single_bytes++;
    at += 1 + (size_t)record_body_length(lead, page_size);
  }
  return counts;
}

// Reset and wake in ms: the reset (a pause, the reset byte, a pause, the reset
// wait), then in every mode a pause, the wake bytes with a pause after each,
// and the pause after them.
double start_ms(void) {
  double wake = BEFORE_WAKE_MS + WAKE_BYTES * (WAKE_BYTE_MS + BYTE_MS) + AFTER_WAKE_MS;
  return reset_mode == NO_RESET
             ? wake
             : BEFORE_RESET_BYTE_MS + BYTE_MS + AFTER_RESET_BYTE_MS + reset_wait + wake;
}

// The handshake and the records in ms: '!', the handshake byte, a pause, the
// 256 count-up bytes, a pause; a page record pauses after its lead byte and
// after its body, a single-byte record once; the end record's byte.
double transfer_ms(RecordCounts counts) {
  double handshake = 2 * BYTE_MS + AFTER_HANDSHAKE_MS + 256 * BYTE_MS + AFTER_COUNT_UP_MS;
  double records = (double)program_records.size() * BYTE_MS;
  return handshake + records + counts.pages * 2.0 * RECORD_PAUSE_MS +
         counts.single_bytes * (double)RECORD_PAUSE_MS;
}

void print_check(const char *path) {
  RecordCounts counts = count_records();
  double start = start_ms(), transfer = transfer_ms(counts);
  updater_print(
      "CPU-Kennung %c, Seitengr\x94\xe1"
      "e %d Bytes, %d Seiten, %d Einzelbyte-Records, %u Bytes bis zum Endrecord\n",
      page_size == 64 ? CPU_ID_PAGE_64 : CPU_ID_PAGE_128, page_size, counts.pages,
      counts.single_bytes, (unsigned)program_records.size() + 2);
  updater_print(
      "Dauer: %.1f s (Reset und Wecken %.3f s, \x9a"
      "bertragung %.3f s, danach 2 s bis \"fertig\")\n",
      (start + transfer + END_DONE_MS) / 1000, start / 1000, transfer / 1000);
  updater_print("morrex --check %s: Programmdatei in Ordnung (Exit-Code 0)\n",
                shown_text(path).c_str());
}
}  // namespace

int dry_run_update(const char *path, const char *port_argument) {
  take_port_argument(port_argument != nullptr ? port_argument : "");
  FILE *file = open_regular_file(path, "rb");
  if (file == nullptr) {
    report_file_error(path, errno);
    updater_print("morrex --check %s: Programmdatei nicht lesbar (Exit-Code %d)\n",
                  shown_text(path).c_str(), EXIT_PROGRAM_FILE);
    return EXIT_PROGRAM_FILE;
  }
  int fault = load_program_file(file);
  close_regular_file(file);
  report_program_fault(path, fault);
  if (fault != 0) {
    updater_print("morrex --check %s: Programmdatei fehlerhaft (Exit-Code %d)\n",
                  shown_text(path).c_str(), fault);
    return fault;
  }
  print_check(path);
  return EXIT_DONE;
}
