// morrex: writes new firmware into the receiver's flash memory over a serial line.
//
// One straight run on one thread: banner, command line, port, program file check,
// reset and wake, handshake and records. Nothing is ever read from the receiver;
// the pace comes from fixed pauses alone.
//
// The operations report with the run's exit code instead of ending the process,
// so that a whole run can be driven from a test; main() only returns what the run
// returns. Each failure has printed its message and made its pause by then.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

// ---------------------------------------------------------------- exit codes
enum {
  EXIT_DONE = 0,          // the end record was sent
  EXIT_PORT = 1,          // the port cannot be opened
  EXIT_PROGRAM_FILE = 2,  // the program file cannot be opened
  EXIT_CPU_ID = 3,        // the program file's CPU identifier is invalid
  EXIT_FILE_ENDS = 4,     // the program file ends before its end record
  EXIT_BAD_RECORD = 5,    // the program file holds an invalid record lead byte
  EXIT_USAGE = 9          // fewer than two arguments
};

enum ResetMode { FULL_RESET, SHORT_RESET, NO_RESET };

// ---------------------------------------------------------------- command line (command_line.cpp)
extern ResetMode reset_mode;
extern int reset_wait;           // ms that DTR and RTS stay asserted in the reset phase
extern int port_number;          // forms the port name "COM%d"
extern std::string port_device;  // a device name taken as it stands; empty for a number
extern std::string port_name;    // as the messages name the port: "COM%d" or the device

// Takes reset mode, reset wait and port (number or device name, and the port name
// formed from it) from the first argument.
void take_port_argument(const char *argument);
// What the command line asks for.
enum { REQUEST_RUN, REQUEST_HELP, REQUEST_VERSION, REQUEST_PORTS, REQUEST_BAD_OPTION };
// The first argument that is no option of morrex's, after REQUEST_BAD_OPTION.
extern std::string bad_option;
// Takes the options wherever they stand: --help (-h, -?, /?), --version (-V),
// --ports; "--" ends them. Leaves argv[0] and the other arguments, in their
// order, in argv, sets *argc to their count and returns the request.
int take_updater_options(int *argc, char **argv);
// "morrex: unbekannte Option: ..." on standard error, the argument shown
// with its controls as glyphs.
void print_bad_option(void);
void print_banner(void);
void print_usage(void);
// What the program is, its usage and its version (after the banner).
void print_information(void);
// The package's version, "morrex VERSION" (before the banner).
void print_version(void);

// ---------------------------------------------------------------- ports (port_listing.cpp)
// Lists the serial ports present, opening none; returns EXIT_DONE at once.
int print_ports(void);
// The lines after "Open %s: Error %ld": the cause in words (and for error 5
// which of its causes), then where to find the ports.
void print_ports_hint(const char *cause, const char *advice);

// ---------------------------------------------------------------- port (updater_port.cpp)
extern HANDLE port_handle;

// The name handed to CreateFileA for port_name.
std::string port_open_name(void);
// Opens and configures the port (38400 8N1, DTR and RTS released). Returns 0, or
// EXIT_PORT after its message and pause.
int open_port(void);
// Bytes whose write failed; the update goes on, but cannot end as done.
extern int failed_writes;
// Sends the low 8 bits of value with one synchronous write; a failure is reported
// on standard error and counted, and otherwise ignored. Makes no pause of its own.
void write_byte(int value);
// Pauses until ms milliseconds after the last byte written has left the wire:
// its write's completion, or where a USB adapter completes a write on
// hand-over, earlier than that, the bytes' own line time since the line was
// last idle. Never shorter at the receiver than asked.
void pause_from_wire(int ms);
// Resets the receiver through DTR and RTS (unless mode is NO_RESET), then sends
// the wake bytes that bring it into its boot loader.
void reset_receiver(ResetMode mode, int wait);

// The update's pauses in ms, each counted from the write before it: the run
// makes them, and --check adds them up.
const int BEFORE_RESET_BYTE_MS = 500;
const int AFTER_RESET_BYTE_MS = 200;
const int BEFORE_WAKE_MS = 500;
const int WAKE_BYTE_MS = 20;  // after each wake byte
const int AFTER_WAKE_MS = 2000;
const int AFTER_HANDSHAKE_MS = 50;
const int AFTER_COUNT_UP_MS = 20;
const int RECORD_PAUSE_MS = 30;  // after a record's lead byte and after its body
const int RESET_BYTE = 'A';
const int WAKE_FIRST = 0xF3;
const int WAKE_LAST = 0xFF;
const int WAKE_BYTES = WAKE_LAST - WAKE_FIRST + 1;
// At the end, long enough to read the last message in a console window that
// closes: after "fertig", and after a failure.
const int END_DONE_MS = 2000;
const int END_FAILED_MS = 3000;

// ---------------------------------------------------------------- program file (program_file.cpp)
enum {
  CPU_ID_PAGE_64 = '8',
  CPU_ID_PAGE_128 = '6',
  PAGE_RECORD = 'u',
  SINGLE_BYTE_RECORD = 0xCC,
  END_RECORD = '3'
};

// The most a program file may hold up to and including its end record: far
// more than any receiver's flash (256 pages of 128 bytes), and little enough to
// hold in memory.
const size_t PROGRAM_FILE_LIMIT = 1024 * 1024;

extern int page_size;                      // 64 or 128, from the CPU identifier
extern BYTE handshake_byte;                // file byte 1
extern std::vector<BYTE> program_records;  // every record up to and including the end record
extern int record_counter;                 // progress count

// Page size for a CPU identifier, or 0 for an invalid one.
int page_size_for(int cpu_id);
// Bytes that follow a lead byte in its record, or -1 for an invalid lead byte.
int record_body_length(int lead, int size_of_page);
// Reads and checks a whole program file: CPU identifier, handshake byte and every
// record up to the end record (nothing after it is read). Returns 0, EXIT_CPU_ID,
// EXIT_FILE_ENDS, EXIT_BAD_RECORD, or EXIT_PROGRAM_FILE when the records go on
// past PROGRAM_FILE_LIMIT; prints nothing.
int load_program_file(FILE *file);
// The message of a fault load_program_file found in the file at path; none for 0.
void report_program_fault(const char *path, int fault);
// Opens the program file and checks it through load_program_file. Returns 0, or
// the exit code after its message and pause; nothing has been sent either way.
int read_program_header(const char *path);
// Sends the handshake and the records. Returns EXIT_DONE after "fertig" and its pause.
int transfer_firmware(void);
// Closes the program file (for release_updater).
void release_program_file(void);

// ---------------------------------------------------------------- check (dry_run.cpp)
// --check: whether the command line asked only for a check of the program file.
extern int check_requested;
// Checks the program file as a run would, prints its CPU, page size, pages
// and how long the update would take (port_argument, or a null pointer, gives
// the reset mode), and returns the run's exit code for it. Opens no port and
// makes no pause.
int dry_run_update(const char *path, const char *port_argument);

// ---------------------------------------------------------------- output (updater_output.cpp)
// What every part of the run prints and ends with; it calls nothing of the run.
// Prints like printf and puts the text on the console before returning.
void updater_print(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Makes the pause that precedes the exit with code, and returns code.
int end_run(int code);

// ---------------------------------------------------------------- the run (updater_run.cpp)
// The whole run; returns the exit code.
int run_updater(int argc, char **argv);
// Closes the port and the program file, which a run leaves open until the
// process exits; for running several updates in one test process.
void release_updater(void);
