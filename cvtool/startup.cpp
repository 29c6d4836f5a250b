// tarvel's start: framework, console, command line, port, and the receiver's
// reset and wake; then the command menu.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "cvtool/json_report.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/platform.h"
#include "services/port_argument.h"
#include "services/shown_text.h"

char data_file_name[DATA_FILE_NAME_SIZE];
int reset_wait_ms = 10000;
int next_cv_entry = 1;
int binary_entry_mode = 0;
const char *command_line_port = nullptr;

namespace {

const char banner[] = "CVs Lesen und schreiben Version 1.0, 1.2.2007\n";
const char usage[] = "Usage: tarvel comx [Datenfile]\n";
// Long enough to read in a window that closes when the program ends.
const int FAREWELL_PAUSE_MS = 3000;

// The jobs and the options, after the arguments.
void print_options_help(void) {
  printf(
      "  comx ab COM10: eine Zahl (12) oder COMn (COM12, com12)\n\n"
      "Ein Auftrag ohne Tasten, f\x81r Skripte:\n"
      "  tarvel [--verify] [-q] --read-out DATEI [--cvs LISTE] [--force] comx\n"
      "  tarvel [--verify] [-q] --program DATEI [--backup ALT [--force]] comx\n"
      "  tarvel [-q] --compare DATEI comx\n"
      "  tarvel [-q] --read LISTE comx\n"
      "  tarvel [--verify] [-q] --write CV=WERT[,CV=WERT...] comx\n"
      "  tarvel --json AUFTRAG ... comx   (--read-out, --program, --compare, --read,\n"
      "                                  --write oder --line-test)\n"
      "  tarvel --check [--verify] --program DATEI [--backup ALT] [comx]\n"
      "  tarvel --check --compare DATEI [comx]\n"
      "  tarvel --line-test comx\n"
      "  tarvel --ports\n\n"
      "Optionen (vor oder nach der Schnittstelle; -- beendet sie):\n"
      "  --ports            zeigt die vorhandenen seriellen Schnittstellen und endet\n"
      "  --verify           l\x84sst jeden geschriebenen CV-Wert vom Empf\x84nger best\x84tigen\n"
      "  --read-out DATEI   liest die CVs in DATEI aus und endet\n"
      "  --force            mit --read-out oder --backup: eine vorhandene Datei \x81"
      "berschreiben\n"
      "  --program DATEI    programmiert die CVs aus DATEI und endet\n"
      "  --backup ALT       mit --program: liest vorher die Werte, die DATEI \x81"
      "berschreibt,\n"
      "                     und sichert sie in ALT; ohne vollst\x84ndige Sicherung wird\n"
      "                     nichts geschrieben (tarvel --program ALT stellt sie wieder her)\n"
      "  --compare DATEI    vergleicht die CVs des Empf\x84ngers mit DATEI, schreibt nichts\n"
      "  --cvs LISTE        mit --read-out: liest die CVs der LISTE statt 1 bis 199\n"
      "                     beider B\x84nke; LISTE wie in der CV-Datei: 7, 7a, Bereiche\n"
      "                     1-256 und 1a-256a, durch Kommas getrennt (alle: 1-256,1a-256a)\n"
      "  --read LISTE       liest die CVs der LISTE und gibt jeden als Zeile der Datei aus\n"
      "                     (mit -q nur diese Zeilen) und endet\n"
      "  --write CV=WERT,...\n"
      "                     schreibt die Werte (0 bis 255, dezimal; jeder CV nur einmal)\n"
      "                     und endet; mit --verify best\x84tigt\n"
      "  --check            mit --program oder --compare: pr\x81"
      "ft nur DATEI, zeigt, was\n"
      "                     geschrieben bzw. verglichen w\x81rde, und die Dauer; \x94"
      "ffnet\n"
      "                     keine Schnittstelle (Exit-Code 0, 2 oder 3)\n"
      "  --line-test        misst die Leitung mit einigen hundert bekannten Antworten,\n"
      "                     sagt, ob sie taugt und was ein Auslesen dauert, und endet\n"
      "                     (Exit-Code 0 taugt, 1 taugt nicht)\n"
      "  -q, --quiet        mit einem Auftrag: nur Fehler und Ergebnis (--read und\n"
      "                     --write: ohne Ergebniszeile)\n"
      "  --json             mit einem Auftrag oder --line-test: die Standardausgabe ist\n"
      "                     ein JSON-Dokument \x81"
      "ber Auftrag, CVs, Leitung und Exit-Code,\n"
      "                     alle Meldungen gehen auf die Standardfehlerausgabe\n"
      "  -h, -?, --help     zeigt diese Hilfe und endet\n"
      "  -V, --version      zeigt die Version und endet\n\n"
      "Exit-Codes von --read-out, --program, --compare, --read und --write: 0 alles\n"
      "gelesen bzw. geschrieben (und best\x84tigt) bzw. gleich, 1 CV-Fehler oder\n"
      "verschieden, 2 ung\x81ltige Zeilen, 3 Datei nicht nutzbar, 4 Schnittstelle\n"
      "ausgefallen (auch beim Beenden: Empf\x84nger nicht freigegeben), 9 Aufruf,\n"
      "99 Schnittstelle nicht zu \x94"
      "ffnen. Das Men\x81 endet mit 0, mit 4, wenn das Beenden die\n"
      "Schnittstelle nicht erreicht.\n");
}

void print_help(void) {
  printf(
      "tarvel liest und schreibt die CVs eines Empf\x84ngers "
      "\x81"
      "ber RS-232.\n");
  printf("%s%s", banner, usage);
  printf("  comx       Schnittstelle: eine Ziffer n f\x81r COMn, sonst der Ger\x84tename\n");
  printf(
      "             sim:DIR ist der virtuelle Empf\x84nger (Zustand im Ordner DIR),\n"
      "             zum Ausprobieren ohne Ger\x84t: tarvel sim:empfaenger cvs.txt\n"
      "             usb:SERIAL ist der USB-Adapter mit dieser Seriennummer\n"
      "             (tarvel --ports zeigt sie), gleich in welcher Buchse\n");
  printf("  Datenfile  CV-Datei f\x81r die Kommandos p und a\n");
  printf("  ORN_HOME   gesetzt: 2 statt 10 Sekunden Reset\n");
  printf("  TARVEL_PORT  die Schnittstelle, wenn der Aufruf keine nennt\n");
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
int take_data_file_name(const char *name) {
  size_t length = strlen(name);
  if (length >= DATA_FILE_NAME_SIZE) {
    fprintf(stderr,
            "Datenfile: Name zu lang (%u Zeichen, h\x94"
            "chstens %d)\n",
            (unsigned)length, DATA_FILE_NAME_SIZE - 1);
    Sleep(FAREWELL_PAUSE_MS);
    return EXIT_USAGE;
  }
  memcpy(data_file_name, name, length + 1);
  return KEEP_RUNNING;
}

// What the command line settles before anything is set up: the help, the
// version, the job's file, and a check, which needs no port.
int answer_command_line(void) {
  if (tarvel_options.help) {
    print_help();
    return EXIT_QUIT;
  }
  if (tarvel_options.version) {
    print_version();
    return EXIT_QUIT;
  }
  if (one_job_requested()) {
    int code = check_one_job_file();
    if (code != KEEP_RUNNING) return code;
  }
  if (!tarvel_options.check) return KEEP_RUNNING;
  reset_wait_ms = getenv("ORN_HOME") != nullptr ? 2000 : 10000;
  return dry_run_job();
}

// The menu takes the console; a job leaves the terminal as it found it.
void set_up_console(void) {
  if (runs_unattended()) {
    console_setup_unattended();
    return;
  }
  console_setup(nullptr);
  clear_screen(ATTR_SCREEN);
}

// Framework, console, banner and the data file; port: the one given, or null.
int set_up(int argc, char **argv, const char *port) {
  if (framework_init() != 0) {
    fprintf(stderr, "Fatal Error: MFC initialization failed\n");
    return EXIT_NO_PORT;
  }
  // The protocol's 1 ms and 3 ms pauses must not stretch to a 15 ms tick.
  timeBeginPeriod(1);
  atexit(end_timer_resolution);
  set_up_console();
  reset_wait_ms = getenv("ORN_HOME") != nullptr ? 2000 : 10000;
  if (!tarvel_options.quiet) printf("%s", banner);
  if (port == nullptr) {
    printf("%s", usage);
    fflush(stdout);
    Sleep(FAREWELL_PAUSE_MS);
    return EXIT_USAGE;
  }
  return argc >= 3 ? take_data_file_name(argv[2]) : KEEP_RUNNING;
}

// The port to open: the adapter that "usb:SERIAL" names, or the port as
// given. Null after saying, as a failed open does, why there is none.
const char *port_to_open(const char *port) {
  static char device[DEVICE_NAME_SIZE];
  if (!names_usb_serial(port)) return port;
  unsigned long code = 0;
  if (resolve_usb_port(port, device, sizeof device, &code, port_open_cause,
                       sizeof port_open_cause) == 0) {
    return device;
  }
  port_open_advice[0] = '\0';
  fprintf(stderr, "Open_in %s: Error %ld\n", shown_text(port).c_str(), (long)code);
  return nullptr;
}

// The job's new files, the port, and the receiver's reset and wake; *port
// becomes the port opened.
int open_and_wake(const char **port) {
  if (one_job_requested()) {
    int code = make_one_job_file();
    if (code != KEEP_RUNNING) return code;
  }
  *port = port_to_open(*port);
  if (*port == nullptr || open_port(*port, 38400, 8, 0, 1, 12, 12) != 0) {
    print_ports_hint();
    if (!runs_unattended()) wait_key();
    return EXIT_NO_PORT;
  }
  reset_receiver(reset_wait_ms);
  return KEEP_RUNNING;
}

// The run after the options.
int run_tarvel(int argc, char **argv) {
  receiver_messages_quiet = tarvel_options.quiet;
  int code = answer_command_line();
  // The port as given (TARVEL_PORT when the command line names none); opening
  // it may find the device behind a usb: name.
  const char *port = command_line_port;
  if (code == KEEP_RUNNING) code = set_up(argc, argv, port);
  if (code == KEEP_RUNNING) code = open_and_wake(&port);
  if (code != KEEP_RUNNING) return code;
  if (tarvel_options.line_test) return run_line_test(port);
  return one_job_requested() ? run_one_job() : command_loop();
}

}  // namespace

int tarvel_main(int argc, char **argv) {
  int code = take_options(&argc, argv);
  if (code != KEEP_RUNNING) return code;
  // TARVEL_PORT gives the port when the command line names none.
  command_line_port = argc >= 2 ? argv[1] : port_from_environment("TARVEL_PORT");
  if (json_output_begin() != 0) return EXIT_NO_PORT;
  return json_finish(run_tarvel(argc, argv));
}
