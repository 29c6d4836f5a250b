// The run from banner to exit code.
#include <cstring>

#include "services/port_argument.h"
#include "updater/updater.h"

namespace {

// The update itself, from opening the port to the end of the transfer.
int update(const char *port, const char *file) {
  take_port_argument(port);
  int code = open_port();
  if (code != 0) return code;
  code = read_program_header(file);
  if (code != 0) return code;
  // Pauses of 20 and 30 ms would stretch to the next default timer tick on Windows.
  timeBeginPeriod(1);
  reset_receiver(reset_mode, reset_wait);
  code = transfer_firmware();
  timeEndPeriod(1);
  return code;
}

}  // namespace

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
  // With one argument, the program file, MORREX_PORT gives the port.
  const char *port = argc >= 3   ? argv[1]
                     : argc == 2 ? port_from_environment("MORREX_PORT")
                                 : nullptr;
  const char *file = argc >= 3 ? argv[2] : argc == 2 ? argv[1] : nullptr;
  // A check needs only the program file; a port named before it is never
  // opened. Nothing waits for a user to read it.
  if (check_requested && file == nullptr) {
    print_usage();
    return EXIT_USAGE;
  }
  if (check_requested) return dry_run_update(file, port);
  if (port == nullptr) {
    print_usage();
    return end_run(EXIT_USAGE);
  }
  return update(port, file);
}

void release_updater(void) {
  if (port_handle != INVALID_HANDLE_VALUE) CloseHandle(port_handle);
  port_handle = INVALID_HANDLE_VALUE;
  failed_writes = 0;
  release_program_file();
}
