// The program file and the flash transfer: the whole file is read and checked
// before the reset, so that a broken file never leaves the receiver half-written;
// then the handshake and the records go out exactly as the file lists them.
#include "updater/updater.h"
#include "services/title_progress.h"

#include <cerrno>

#include "platform/safe_start.h"
#include "services/shown_text.h"
#include "services/file_errors.h"

int page_size = 64;
BYTE handshake_byte = 0;
std::vector<BYTE> program_records;
int record_counter = 0;

namespace {

FILE *program_file;

int read_file_byte(FILE *file, BYTE *byte) {
  return fread(byte, 1, 1, file) == 1 ? 0 : -1;
}

// Reads the records up to and including the end record into program_records.
int load_records(FILE *file) {
  for (;;) {
    BYTE lead;
    if (read_file_byte(file, &lead) != 0) return EXIT_FILE_ENDS;
    int body = record_body_length(lead, page_size);
    if (body < 0) return EXIT_BAD_RECORD;
    program_records.push_back(lead);
    for (int i = 0; i < body; i++) {
      BYTE byte;
      if (read_file_byte(file, &byte) != 0) return EXIT_FILE_ENDS;
      program_records.push_back(byte);
    }
    if (program_records.size() + 2 > PROGRAM_FILE_LIMIT) return EXIT_PROGRAM_FILE;
    if (lead == END_RECORD) return 0;
  }
}

void send_handshake(void) {
  write_byte('!');
  write_byte(handshake_byte);
  pause_from_wire(AFTER_HANDSHAKE_MS);
  for (int value = 0x00; value <= 0xFF; value++) write_byte(value);
  pause_from_wire(AFTER_COUNT_UP_MS);
}

void show_progress(void) {
  updater_print("%4d\r", record_counter);
  record_counter++;
}

}  // namespace

int page_size_for(int cpu_id) {
  if (cpu_id == CPU_ID_PAGE_64) return 64;
  if (cpu_id == CPU_ID_PAGE_128) return 128;
  return 0;
}

int record_body_length(int lead, int size_of_page) {
  switch (lead) {
    case PAGE_RECORD:
      return 1 + size_of_page;  // the page number, then the page
    case SINGLE_BYTE_RECORD:
    case END_RECORD:
      return 0;
    default:
      return -1;
  }
}

int load_program_file(FILE *file) {
  program_records.clear();
  BYTE cpu_id;
  if (read_file_byte(file, &cpu_id) != 0 || page_size_for(cpu_id) == 0) return EXIT_CPU_ID;
  page_size = page_size_for(cpu_id);
  if (read_file_byte(file, &handshake_byte) != 0) return EXIT_FILE_ENDS;
  return load_records(file);
}

int read_program_header(const char *path) {
  program_file = open_regular_file(path, "rb");
  if (program_file == nullptr) {
    report_file_error(path, errno);
    return end_run(EXIT_PROGRAM_FILE);
  }
  int fault = load_program_file(program_file);
  report_program_fault(path, fault);
  return fault == 0 ? 0 : end_run(fault);
}

void report_program_fault(const char *path, int fault) {
  if (fault == EXIT_PROGRAM_FILE) {
    fprintf(stderr, "%s: Programmdatei zu gro\xe1 (mehr als %u Bytes)\n", shown_text(path).c_str(),
            (unsigned)PROGRAM_FILE_LIMIT);
  }
  if (fault == EXIT_CPU_ID) updater_print("ung\x81ltige CPU-Kennung!\n");
  if (fault == EXIT_FILE_ENDS) updater_print("interner Fehler 1\n");
  if (fault == EXIT_BAD_RECORD) updater_print("interner Fehler 2\n");
}

int transfer_firmware(void) {
  record_counter = 0;
  send_handshake();
  size_t at = 0;
  title_progress_begin("morrex: Update");
  title_progress_step(0, (long)program_records.size());
  while (at < program_records.size()) {
    BYTE lead = program_records[at++];
    write_byte(lead);
    if (lead == END_RECORD) break;
    pause_from_wire(RECORD_PAUSE_MS);
    if (lead == PAGE_RECORD) {
      for (int i = 0; i < 1 + page_size; i++) write_byte(program_records[at++]);
      pause_from_wire(RECORD_PAUSE_MS);
    }
    show_progress();
    title_progress_step((long)at, (long)program_records.size());
  }
  title_progress_end();
  if (failed_writes > 0) {
    // Bytes that never left the port: the receiver's flash is not what the
    // file holds, which must not read as done.
    updater_print(
        "\n\x9a"
        "bertragung unvollst\x84ndig: %d Bytes nicht gesendet\n",
        failed_writes);
    return end_run(EXIT_PORT);
  }
  updater_print("fertig\n");
  return end_run(EXIT_DONE);
}

void release_program_file(void) {
  if (program_file != nullptr) close_regular_file(program_file);
  program_file = nullptr;
}
