// tarvel's start: framework, console, command line, port, and the receiver's
// reset and wake; then the command menu.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "cvtool/cvtool.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/platform.h"

char data_file_name[DATA_FILE_NAME_SIZE];
int reset_wait_ms = 10000;
int next_cv_entry = 1;
int binary_entry_mode = 0;

namespace {

const char banner[] = "CVs Lesen und schreiben Version 1.0, 1.2.2007\n";
const char usage[] = "Usage: tarvel comx [Datenfile]\n";
// Long enough to read in a window that closes when the program ends.
const int FAREWELL_PAUSE_MS = 3000;

void print_help(void) {
  printf(
      "tarvel liest und schreibt die CVs eines Empf\x84ngers "
      "\x81"
      "ber RS-232.\n");
  printf("%s%s", banner, usage);
  printf("  comx       Schnittstelle: eine Ziffer n f\x81r COMn, sonst der Ger\x84tename\n");
  printf(
      "             sim:DIR ist der virtuelle Empf\x84nger (Zustand im Ordner DIR),\n"
      "             zum Ausprobieren ohne Ger\x84t: tarvel sim:empfaenger cvs.txt\n");
  printf("  Datenfile  CV-Datei f\x81r die Kommandos p und a\n");
  printf("  ORN_HOME   gesetzt: 2 statt 10 Sekunden Reset\n");
  print_options_help();
}

// The package's version first, as GNU programs do; then the program's own.
void print_version(void) {
  printf("tarvel %s\n%s", PROJECT_VERSION_TEXT, banner);
}

void end_timer_resolution(void) {
  timeEndPeriod(1);
}

// The name buffer holds 999 characters; a longer name is refused whole
// rather than cut to a different file's name.
void take_data_file_name(const char *name) {
  size_t length = strlen(name);
  if (length >= DATA_FILE_NAME_SIZE) {
    fprintf(stderr,
            "Datenfile: Name zu lang (%u Zeichen, h\x94"
            "chstens %d)\n",
            (unsigned)length, DATA_FILE_NAME_SIZE - 1);
    Sleep(FAREWELL_PAUSE_MS);
    exit(9);
  }
  memcpy(data_file_name, name, length + 1);
}

}  // namespace

int tarvel_main(int argc, char **argv) {
  argc = take_options(argc, argv);
  receiver_messages_quiet = tarvel_options.quiet;
  if (tarvel_options.help) {
    print_help();
    exit(0);
  }
  if (tarvel_options.version) {
    print_version();
    exit(0);
  }
  if (one_job_requested()) check_one_job_file();
  if (tarvel_options.check) {
    reset_wait_ms = getenv("ORN_HOME") != nullptr ? 2000 : 10000;
    run_job_check();
  }
  if (framework_init() != 0) {
    fprintf(stderr, "Fatal Error: MFC initialization failed\n");
    exit(99);
  }
  // The protocol's 1 ms and 3 ms pauses must not stretch to a 15 ms tick.
  timeBeginPeriod(1);
  atexit(end_timer_resolution);
  console_setup(nullptr);
  clear_screen(ATTR_SCREEN);
  reset_wait_ms = getenv("ORN_HOME") != nullptr ? 2000 : 10000;
  if (!tarvel_options.quiet) printf("%s", banner);
  if (argc < 2) {
    printf("%s", usage);
    fflush(stdout);
    Sleep(FAREWELL_PAUSE_MS);
    exit(9);
  }
  if (argc >= 3) take_data_file_name(argv[2]);
  if (one_job_requested()) make_one_job_file();
  if (open_port(argv[1], 38400, 8, 0, 1, 12, 12) != 0) {
    print_ports_hint();
    if (!one_job_requested()) wait_key();
    exit(99);
  }
  reset_receiver(reset_wait_ms);
  if (one_job_requested()) run_one_job();
  command_loop();
  return 0;
}
