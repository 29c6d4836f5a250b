// The run from banner to exit code, and the pause before every exit.
#include <cstdarg>
#include <cstring>

#include "updater/updater.h"

void updater_print(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vprintf(format, arguments);
  va_end(arguments);
  // Prompts and the progress line end without a line feed; they must be on the
  // console before the pause that follows them.
  fflush(stdout);
}

int end_run(int code) {
  // Long enough to read the last message in a console window that closes.
  Sleep(code == EXIT_DONE ? 2000 : 3000);
  return code;
}

int run_updater(int argc, char **argv) {
  if (argc >= 2 && is_ports_request(argv[1])) return print_ports();
  print_banner();
  if (argc == 2 && is_information_request(argv[1])) {
    if (strcmp(argv[1], "--version") == 0)
      print_version();
    else
      print_information();
    return EXIT_DONE;
  }
  if (argc < 3) {
    print_usage();
    return end_run(EXIT_USAGE);
  }
  take_port_argument(argv[1]);
  int code = open_port();
  if (code != 0) return code;
  code = read_program_header(argv[2]);
  if (code != 0) return code;
  // Pauses of 20 and 30 ms would stretch to the next default timer tick on Windows.
  timeBeginPeriod(1);
  reset_receiver(reset_mode, reset_wait);
  code = transfer_firmware();
  timeEndPeriod(1);
  return code;
}

void release_updater(void) {
  if (port_handle != INVALID_HANDLE_VALUE) CloseHandle(port_handle);
  port_handle = INVALID_HANDLE_VALUE;
  failed_writes = 0;
  release_program_file();
}
