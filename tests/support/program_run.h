// Runs a built program (POSIX) as the tests need it: on the virtual clock
// (ORN_VIRTUAL_CLOCK), with ORN_HOME as the test asks, without a port from the
// tester's own TARVEL_PORT or MORREX_PORT, killed when it overruns.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int code = -1;  // the exit code; -1 when the program was killed or crashed
  std::string out, err;
};

struct RunOptions {
  int stdin_fd = -1;   // -1: a pipe that stays open and never brings a key
  int stdout_fd = -1;  // -1: standard output is captured into out
  // Copied into ORN_HOME; nullptr leaves it unset.
  const char *orn_home = "";
  int timeout_ms = 60000;  // real time, then the program is killed
  // "NAME=VALUE" put into the program's environment.
  std::vector<std::string> environment;
};

// Runs path with args until it ends; its standard output and error pass
// through the files DIR/stdout and DIR/stderr.
ProgramRun run_program(const char *path, const std::vector<std::string> &args,
                       const std::string &dir, const RunOptions &options = RunOptions());

// Where run_program_into sends standard output.
enum ProgramOutput { OUTPUT_FILE, OUTPUT_PIPE, OUTPUT_TERMINAL };

// As run_program, with standard output a file, a pipe or a pseudo-terminal
// (200 columns; the CRs before each LF, the program's and the terminal's
// own, are taken out); out holds every byte written there. options.stdout_fd is not
// used.
ProgramRun run_program_into(ProgramOutput output, const char *path,
                            const std::vector<std::string> &args, const std::string &dir,
                            RunOptions options = RunOptions());

// In a child after fork(): sets the environment as above, then each
// "NAME=VALUE" of environment, and executes path with args; exits with 127
// when it cannot.
[[noreturn]] void exec_program(const char *path, const std::vector<std::string> &args,
                               const char *orn_home,
                               const std::vector<std::string> &environment = {});

// The words a program run here gives for errno in its messages: the C
// library's, in the language this environment asks for.
std::string system_words(int error);

// How often part occurs in text (a line printed, a message repeated).
int count_of(const std::string &text, const std::string &part);

// text with each "%" replaced by dir: the tests' arguments name the test's
// folder so.
std::string with_dir(std::string text, const std::string &dir);
std::vector<std::string> with_dir(const std::vector<std::string> &texts, const std::string &dir);
