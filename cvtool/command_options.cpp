// tarvel's options, GNU style, before or after the port: --verify,
// --read-out FILE, --cvs LIST, --program FILE, --compare FILE, --backup OLD,
// --read LIST, --write CV=VALUE,..., --check, --force, --json, --ports,
// --help (-h, -?, /?), --version (-V); "--" ends them.
#include <getopt.h>

#include <cstdio>
#include <cstring>

#include "cvtool/cv_list_arg.h"
#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/jobs.h"
#include "link/serial_port.h"
#include "platform/platform.h"
#include "services/port_argument.h"
#include "services/port_list.h"
#include "services/shown_text.h"

TarvelOptions tarvel_options = {};

namespace {

int refuse(const char *what, const char *option) {
  fprintf(stderr, "tarvel: %s: %s (tarvel --help zeigt die Optionen)\n", what,
          shown_text(option).c_str());
  return EXIT_USAGE;
}

int list_ports(void) {
  if (print_serial_ports(stdout) == 0) printf("Keine serielle Schnittstelle gefunden.\n");
  return EXIT_QUIT;
}

// A file of a job or of --backup goes into the data file name, which holds
// 999 characters.
int take_file(const char **into, const char *file, const char *option) {
  if (file[0] == '\0') return refuse("Dateiname fehlt nach", option);
  if (strlen(file) >= DATA_FILE_NAME_SIZE) return refuse("Dateiname zu lang nach", option);
  *into = file;
  return KEEP_RUNNING;
}

// One job a run.
int take_job_file(JobKind kind, const char **into, const char *file, const char *option) {
  if (tarvel_options.job != NO_JOB) return refuse("nur ein Auftrag", option);
  int code = take_file(into, file, option);
  if (code == KEEP_RUNNING) tarvel_options.job = kind;
  return code;
}

// The CVs of --cvs, --read or --write into command_line_cvs; a wrong list is
// refused with the entry that is wrong. values: CV=VALUE pairs.
int take_cv_list(const char **list, const char *text, const char *option, int values) {
  CvListError error;
  int parsed = values ? cv_values_parse(text, &command_line_cvs, &error)
                      : cv_list_parse(text, &command_line_cvs, &error);
  if (parsed != 0) {
    fprintf(stderr, "tarvel: %s: \"%s\": %s (tarvel --help zeigt die Optionen)\n", option,
            shown_text(error.part.c_str()).c_str(), error.reason);
    return EXIT_USAGE;
  }
  *list = text;
  return KEEP_RUNNING;
}

// --cvs (once) and the jobs --read and --write (one job a run; kind NO_JOB
// for --cvs) share the list; --cvs beside another job is refused once all
// options are taken.
int take_cvs_option(JobKind kind, const char **list, const char *text, const char *option) {
  if (kind == NO_JOB && *list != nullptr) return refuse("nur einmal", option);
  if (kind != NO_JOB && tarvel_options.job != NO_JOB) return refuse("nur ein Auftrag", option);
  int code = take_cv_list(list, text, option, kind == WRITE_JOB);
  if (code == KEEP_RUNNING && kind != NO_JOB) tarvel_options.job = kind;
  return code;
}

enum {
  OPTION_VERIFY = 256,
  OPTION_FORCE,
  OPTION_READ_OUT,
  OPTION_PROGRAM,
  OPTION_PORTS,
  OPTION_COMPARE,
  OPTION_BACKUP,
  OPTION_CHECK,
  OPTION_LINE_TEST,
  OPTION_JSON,
  OPTION_CVS,
  OPTION_READ,
  OPTION_WRITE
};

const struct option long_options[] = {{"verify", no_argument, nullptr, OPTION_VERIFY},
                                      {"force", no_argument, nullptr, OPTION_FORCE},
                                      {"read-out", required_argument, nullptr, OPTION_READ_OUT},
                                      {"program", required_argument, nullptr, OPTION_PROGRAM},
                                      {"ports", no_argument, nullptr, OPTION_PORTS},
                                      {"quiet", no_argument, nullptr, 'q'},
                                      {"compare", required_argument, nullptr, OPTION_COMPARE},
                                      {"backup", required_argument, nullptr, OPTION_BACKUP},
                                      {"check", no_argument, nullptr, OPTION_CHECK},
                                      {"line-test", no_argument, nullptr, OPTION_LINE_TEST},
                                      {"json", no_argument, nullptr, OPTION_JSON},
                                      {"cvs", required_argument, nullptr, OPTION_CVS},
                                      {"read", required_argument, nullptr, OPTION_READ},
                                      {"write", required_argument, nullptr, OPTION_WRITE},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};

// The argument getopt_long has just refused, for the message; element is the
// one it was looking at.
const char *refused_argument(const char *element) {
  static char short_option[3] = "-?";
  if (strncmp(element, "--", 2) == 0) return element;
  short_option[1] = (char)optopt;
  return short_option;
}

// Whether the option element names takes a list of CVs, not a file.
bool takes_cv_list(const char *element) {
  return strcmp(element, "--cvs") == 0 || strcmp(element, "--read") == 0 ||
         strcmp(element, "--write") == 0;
}

// Returns KEEP_RUNNING, or EXIT_USAGE after refusing the option.
int take_option(int option, const char *element) {
  switch (option) {
    case OPTION_VERIFY:
      tarvel_options.verify = 1;
      break;
    case OPTION_FORCE:
      tarvel_options.force = 1;
      break;
    case 'h':
      tarvel_options.help = 1;
      break;
    case 'V':
      tarvel_options.version = 1;
      break;
    case 'q':
      tarvel_options.quiet = 1;
      break;
    case OPTION_PORTS:
      tarvel_options.ports = 1;
      break;
    case OPTION_READ_OUT:
      return take_job_file(READ_OUT_JOB, &tarvel_options.read_out, optarg, "--read-out");
    case OPTION_PROGRAM:
      return take_job_file(PROGRAM_JOB, &tarvel_options.program, optarg, "--program");
    case OPTION_COMPARE:
      return take_job_file(COMPARE_JOB, &tarvel_options.compare, optarg, "--compare");
    case OPTION_CVS:
      return take_cvs_option(NO_JOB, &tarvel_options.cvs, optarg, "--cvs");
    case OPTION_READ:
      return take_cvs_option(READ_JOB, &tarvel_options.read, optarg, "--read");
    case OPTION_WRITE:
      return take_cvs_option(WRITE_JOB, &tarvel_options.write, optarg, "--write");
    case OPTION_BACKUP:
      if (tarvel_options.backup != nullptr) return refuse("nur eine Sicherung", "--backup");
      return take_file(&tarvel_options.backup, optarg, "--backup");
    case OPTION_CHECK:
      tarvel_options.check = 1;
      break;
    case OPTION_LINE_TEST:
      tarvel_options.line_test = 1;
      break;
    case OPTION_JSON:
      tarvel_options.json = 1;
      break;
    case ':':
      return refuse(takes_cv_list(element) ? "CV-Liste fehlt nach" : "Dateiname fehlt nach",
                    refused_argument(element));
    default:
      // -? asks for help; anything else is no option of ours.
      if (optopt == '?') {
        tarvel_options.help = 1;
        break;
      }
      return refuse("unbekannte Option", refused_argument(element));
  }
  return KEEP_RUNNING;
}

// An argument that is no option: "-" alone is a name, as it is for most tools.
bool is_positional(const char *argument) {
  return argument[0] != '-' || argument[1] == '\0';
}

// How the job asked for is called, for a refusal.
const char *job_usage(void) {
  switch (tarvel_options.job) {
    case COMPARE_JOB:
      return "tarvel --compare DATEI comx";
    case READ_JOB:
      return "tarvel --read LISTE comx";
    case WRITE_JOB:
      return "tarvel [--verify] --write CV=WERT[,CV=WERT...] comx";
    default:
      return "tarvel [--verify] --read-out|--program DATEI comx";
  }
}

// --cvs only for a read-out; --verify not for --read. Returns KEEP_RUNNING, or
// EXIT_USAGE after refusing.
int check_cv_list_options(void) {
  if (tarvel_options.cvs != nullptr && tarvel_options.read_out == nullptr) {
    return refuse("nur mit --read-out", "--cvs");
  }
  // A read ends with the receiver's confirmation anyway; there is no write.
  if (tarvel_options.verify && tarvel_options.read != nullptr) {
    return refuse("nicht mit --read", "--verify");
  }
  return KEEP_RUNNING;
}

// Returns KEEP_RUNNING, or EXIT_USAGE after refusing the first wrong one.
int check_combination(int positionals) {
  if (tarvel_options.force && tarvel_options.read_out == nullptr &&
      tarvel_options.backup == nullptr) {
    return refuse("nur mit --read-out oder --backup", "--force");
  }
  if (tarvel_options.quiet && !one_job_requested()) {
    return refuse("nur mit --read-out, --program, --compare, --read oder --write", "--quiet");
  }
  int code = check_cv_list_options();
  if (code != KEEP_RUNNING) return code;
  if (tarvel_options.backup != nullptr && tarvel_options.program == nullptr) {
    return refuse("nur mit --program", "--backup");
  }
  if (tarvel_options.check && tarvel_options.program == nullptr &&
      tarvel_options.compare == nullptr) {
    return refuse("nur mit --program oder --compare", "--check");
  }
  if (tarvel_options.line_test && (one_job_requested() || tarvel_options.check)) {
    return refuse("nicht zusammen mit einem Auftrag", "--line-test");
  }
  if (tarvel_options.line_test && positionals != 1) {
    return refuse(positionals < 1 ? "Schnittstelle fehlt" : "zu viele Argumente",
                  "tarvel --line-test comx");
  }
  if (tarvel_options.line_test && tarvel_options.verify) {
    return refuse("nicht mit --line-test", "--verify");
  }
  // A check opens no port: one may be named, none is needed.
  if (tarvel_options.check && positionals > 1) {
    return refuse("zu viele Argumente", "tarvel --check --program|--compare DATEI [comx]");
  }
  if (!tarvel_options.check && one_job_requested() && positionals != 1) {
    return refuse(positionals < 1 ? "Schnittstelle fehlt" : "zu viele Argumente", job_usage());
  }
  return KEEP_RUNNING;
}

// --json needs a job whose output a script reads; returns KEEP_RUNNING, or
// EXIT_USAGE after refusing it.
int check_json(void) {
  if (!tarvel_options.json) return KEEP_RUNNING;
  if (!one_job_requested() && !tarvel_options.line_test) {
    return refuse("nur mit --read-out, --program, --compare, --read, --write oder --line-test",
                  "--json");
  }
  // A check's listing is for a person to read.
  if (tarvel_options.check) return refuse("nicht mit --check", "--json");
  return KEEP_RUNNING;
}

// Moves argument i to the end of the positionals gathered so far.
void keep_positional(char **argv, int *count, int i) {
  char *argument = argv[i];
  for (int j = i; j > *count; j--) argv[j] = argv[j - 1];
  argv[(*count)++] = argument;
}

}  // namespace

// The options are taken wherever they stand, in the same way on every C
// library: "+" makes getopt_long stop at each positional (POSIXLY_CORRECT
// would make glibc do so anyway), which is then put aside and the scan goes
// on after it. "--" ends the options; "/?" is the Windows user's --help.
int take_options(int *argc_in_out, char **argv) {
  int argc = *argc_in_out;
  int count = 1;  // argv[0], then the positionals in their order
  opterr = 0;
  // optind 0 makes every getopt start afresh; with no argument it only resets.
  optind = 0;
  getopt_long(1, argv, "+", long_options, nullptr);
  optind = 1;
  while (optind < argc) {
    if (strcmp(argv[optind], "--") == 0) {
      for (int i = optind + 1; i < argc; i++) keep_positional(argv, &count, i);
      break;
    }
    if (is_positional(argv[optind])) {
      if (strcmp(argv[optind], "/?") == 0) tarvel_options.help = 1;
      keep_positional(argv, &count, optind);
      optind++;
      continue;
    }
    const char *element = argv[optind];
    int option = getopt_long(argc, argv, "+:hVq", long_options, nullptr);
    if (option == -1) break;
    int code = take_option(option, element);
    if (code != KEEP_RUNNING) return code;
  }
  *argc_in_out = count;
  if (tarvel_options.ports && !tarvel_options.help) return list_ports();
  if (tarvel_options.help || tarvel_options.version) return KEEP_RUNNING;
  // Without a port on the command line, TARVEL_PORT names it.
  bool from_environment = count == 1 && port_from_environment("TARVEL_PORT") != nullptr;
  int code = check_combination(count - 1 + (from_environment ? 1 : 0));
  return code != KEEP_RUNNING ? code : check_json();
}

void print_ports_hint(void) {
  fprintf(stderr, "Grund: %s\n", port_open_cause);
  if (port_open_advice[0] != '\0') fprintf(stderr, "%s\n", port_open_advice);
  fprintf(stderr, "Vorhandene Schnittstellen zeigt: tarvel --ports\n");
}
