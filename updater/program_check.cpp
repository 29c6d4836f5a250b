// morrex --check: the program file checked exactly as a run checks it before
// the reset, and what the update would be: CPU, page size, pages, and its
// length on the line, from the protocol's pauses and ten bit times at 38400
// baud for every byte. No port is opened, nothing waits.
#include <cerrno>

#include "platform/safe_start.h"
#include "platform/shown_text.h"
#include "updater/updater.h"

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

// Reset and wake in ms: the reset (500 ms, 'A', 200 ms, the reset wait), then
// in every mode 500 ms, thirteen wake bytes with 20 ms after each, 2000 ms.
double start_ms(void) {
  double wake = 500 + 13 * (20 + BYTE_MS) + 2000;
  return reset_mode == NO_RESET ? wake : 500 + BYTE_MS + 200 + reset_wait + wake;
}

// The handshake and the records in ms: '!', the handshake byte, 50 ms, 256
// bytes, 20 ms; a page record 30 ms after its lead byte and after its body, a
// single-byte record 30 ms; the end record's byte.
double transfer_ms(RecordCounts counts) {
  double handshake = 2 * BYTE_MS + 50 + 256 * BYTE_MS + 20;
  double records = (double)program_records.size() * BYTE_MS;
  return handshake + records + counts.pages * 60.0 + counts.single_bytes * 30.0;
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
      (start + transfer + 2000) / 1000, start / 1000, transfer / 1000);
  updater_print("morrex --check %s: Programmdatei in Ordnung (Exit-Code 0)\n",
                shown_text(path).c_str());
}
}  // namespace

int check_program_file(const char *path, const char *port_argument) {
  take_port_argument(port_argument != nullptr ? port_argument : "");
  FILE *file = open_regular_file(path, "rb");
  if (file == nullptr) {
    report_file_error(path, errno);
    updater_print("morrex --check %s: Programmdatei nicht lesbar (Exit-Code %d)\n",
                  shown_text(path).c_str(), EXIT_PROGRAM_FILE);
    return EXIT_PROGRAM_FILE;
  }
  int fault = load_program_file(file);
  fclose(file);
  report_program_fault(path, fault);
  if (fault != 0) {
    updater_print("morrex --check %s: Programmdatei fehlerhaft (Exit-Code %d)\n",
                  shown_text(path).c_str(), fault);
    return fault;
  }
  print_check(path);
  return EXIT_DONE;
}
