// tarvel's long options, GNU style, before the port: --verify, --read-out FILE,
// --program FILE, --force, --ports, --help, --version; "--" ends them.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cvtool/cvtool.h"
#include "platform/platform.h"
#include "platform/port_list.h"
#include "platform/shown_text.h"

TarvelOptions tarvel_options = {0, 0, nullptr, nullptr, 0, 0};

namespace {

void refuse(const char *what, const char *option) {
  fprintf(stderr, "tarvel: %s: %s (tarvel --help zeigt die Optionen)\n", what,
          shown_text(option).c_str());
  exit(9);
}

// --name VALUE or --name=VALUE; returns the value, moving *index past it.
const char *option_value(int argc, char **argv, int *index, const char *name) {
  const char *argument = argv[*index];
  size_t length = strlen(name);
  if (argument[length] == '=') return argument + length + 1;
  if (*index + 1 >= argc) refuse("Dateiname fehlt nach", name);
  *index += 1;
  return argv[*index];
}

int names(const char *argument, const char *name) {
  size_t length = strlen(name);
  return strncmp(argument, name, length) == 0 &&
         (argument[length] == '\0' || argument[length] == '=');
}

void list_ports(void) {
  if (print_serial_ports(stdout) == 0) printf("Keine serielle Schnittstelle gefunden.\n");
  exit(0);
}

// The job's file goes into the data file name, which holds 999 characters.
const char *job_file(const char *file, const char *option) {
  if (file[0] == '\0') refuse("Dateiname fehlt nach", option);
  if (strlen(file) >= DATA_FILE_NAME_SIZE) refuse("Dateiname zu lang nach", option);
  return file;
}

// Takes one option at argv[*index]; returns 0, or -1 for "--".
int take_option(int argc, char **argv, int *index) {
  const char *argument = argv[*index];
  if (strcmp(argument, "--") == 0) return -1;
  if (strcmp(argument, "--verify") == 0) {
    tarvel_options.verify = 1;
  } else if (strcmp(argument, "--force") == 0) {
    tarvel_options.force = 1;
  } else if (strcmp(argument, "--help") == 0) {
    tarvel_options.help = 1;
  } else if (strcmp(argument, "--version") == 0) {
    tarvel_options.version = 1;
  } else if (strcmp(argument, "--ports") == 0) {
    list_ports();
  } else if (names(argument, "--read-out")) {
    tarvel_options.read_out = job_file(option_value(argc, argv, index, "--read-out"), "--read-out");
  } else if (names(argument, "--program")) {
    tarvel_options.program = job_file(option_value(argc, argv, index, "--program"), "--program");
  } else {
    refuse("unbekannte Option", argument);
  }
  return 0;
}

void check_combination(int argc, int first) {
  if (tarvel_options.read_out != nullptr && tarvel_options.program != nullptr) {
    refuse("nur ein Auftrag", "--read-out oder --program");
  }
  if (tarvel_options.force && tarvel_options.read_out == nullptr) {
    refuse("nur mit --read-out", "--force");
  }
  if (one_job_requested() && argc - first != 1) {
    refuse(argc - first < 1 ? "Schnittstelle fehlt" : "zu viele Argumente",
           "tarvel [--verify] --read-out|--program DATEI comx");
  }
}

}  // namespace

int take_options(int argc, char **argv) {
  int index = 1;
  for (; index < argc && strncmp(argv[index], "--", 2) == 0; index++) {
    if (take_option(argc, argv, &index) != 0) {
      index++;
      break;
    }
  }
  if (!tarvel_options.help) check_combination(argc, index);
  return index;
}

void print_options_help(void) {
  printf(
      "  comx ab COM10: eine Zahl (12) oder COMn (COM12, com12)\n\n"
      "Ein Auftrag ohne Tasten, f\x81r Skripte:\n"
      "  tarvel [--verify] --read-out DATEI [--force] comx\n"
      "  tarvel [--verify] --program DATEI comx\n"
      "  tarvel --ports\n\n"
      "Optionen (vor der Schnittstelle):\n"
      "  --ports            zeigt die vorhandenen seriellen Schnittstellen und endet\n"
      "  --verify           l\x84sst jeden geschriebenen CV-Wert vom Empf\x84nger best\x84tigen\n"
      "  --read-out DATEI   liest die CVs in DATEI aus und endet\n"
      "  --force            mit --read-out: eine vorhandene DATEI \x81"
      "berschreiben\n"
      "  --program DATEI    programmiert die CVs aus DATEI und endet\n\n"
      "Exit-Codes von --read-out und --program: 0 alles gelesen bzw. geschrieben\n"
      "(und best\x84tigt), 1 CV-Fehler, 2 ung\x81ltige Zeilen, 3 Datei nicht nutzbar,\n"
      "4 Schnittstelle ausgefallen, 9 Aufruf, 99 Schnittstelle nicht zu \x94"
      "ffnen\n");
}

void print_ports_hint(void) {
  fprintf(stderr, "Vorhandene Schnittstellen zeigt: tarvel --ports\n");
}
