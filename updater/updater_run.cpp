// The run from banner to exit code.
#include <cstring>

#include "updater/updater.h"

int run_updater(int argc, char **argv) {
  int request = take_updater_options(&argc, argv);
  if (request == REQUEST_PORTS) return print_ports();
  // The package's version first, as GNU programs print it.
  if (request == REQUEST_VERSION) print_version();
  print_banner();
  if (request == REQUEST_HELP) print_information();
  if (request == REQUEST_VERSION || request == REQUEST_HELP) return EXIT_DONE;
  if (request == REQUEST_BAD_OPTION) {
    print_bad_option();
    print_usage();
    return end_run(EXIT_USAGE);
  }
  // A check needs only the program file; a port named before it is never
  // opened. Nothing waits for a user to read it.
  if (check_requested && argc < 2) {
    print_usage();
    return EXIT_USAGE;
  }
  if (check_requested) {
    return check_program_file(argv[argc >= 3 ? 2 : 1], argc >= 3 ? argv[1] : nullptr);
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
