// tarvel's options, before or after the port (command_options.cpp).
#pragma once

// None of them given, the program behaves byte for byte as without them.

// The one job the command line asks for instead of the menu; its argument
// (FILE or LIST) is in the option's own member.
enum JobKind { NO_JOB, READ_OUT_JOB, PROGRAM_JOB, COMPARE_JOB, READ_JOB, WRITE_JOB };

struct TarvelOptions {
  JobKind job;           // which job, from the option that named it
  int verify;            // --verify: every CV write is followed by a verify
  int force;             // --force: --read-out or --backup may overwrite its file
  const char *read_out;  // --read-out FILE: one read-out, then quit
  const char *program;   // --program FILE: one programming run, then quit
  const char *compare;   // --compare FILE: the receiver against FILE, nothing written
  const char *backup;    // --backup OLD: with --program, the values it overwrites
  int check;             // --check: the job's file alone, no port
  int help;              // --help
  int version;           // --version
  int ports;             // --ports
  int quiet;             // -q, --quiet: a job shows only its failures and summary
  int line_test;         // --line-test: measure the line, then quit
  int json;              // --json: a job's standard output is one JSON document
  const char *cvs;       // --cvs LIST: with --read-out, the CVs it reads
  const char *read;      // --read LIST: these CVs onto standard output, then quit
  const char *write;     // --write CV=VALUE,...: these values into the receiver, then quit
};
extern TarvelOptions tarvel_options;
// Takes the options wherever they stand in argv. Leaves argv[0] and then the
// other arguments, in their order, in argv, sets *argc to their count and
// returns KEEP_RUNNING; or answers --ports (EXIT_QUIT), or refuses a wrong
// option (EXIT_USAGE).
int take_options(int *argc, char **argv);
// The lines after a port that cannot be opened: why, and where to find the
// ports.
void print_ports_hint(void);
