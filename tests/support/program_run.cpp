#include "tests/support/program_run.h"

#include <fcntl.h>
#include <locale.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "tests/support/files.h"

void exec_program(const char *path, const std::vector<std::string> &args, const char *orn_home,
                  const std::vector<std::string> &environment) {
  setenv("ORN_VIRTUAL_CLOCK", "1", 1);
  unsetenv("TARVEL_PORT");
  unsetenv("MORREX_PORT");
  if (orn_home != nullptr) {
    setenv("ORN_HOME", orn_home, 1);
  } else {
    unsetenv("ORN_HOME");
  }
  for (const std::string &setting : environment) putenv(strdup(setting.c_str()));
  std::vector<std::string> copies = args;
  std::vector<char *> argv = {const_cast<char *>(path)};
  for (std::string &a : copies) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  execv(path, argv.data());
  _exit(127);
}

namespace {

// Waits for child, killing it after timeout_ms; returns its wait status.
int wait_at_most(pid_t child, int timeout_ms) {
  int status = 0;
  for (int waited_ms = 0; waitpid(child, &status, WNOHANG) == 0; waited_ms += 10) {
    if (waited_ms > timeout_ms) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    usleep(10000);
  }
  return status;
}

}  // namespace

ProgramRun run_program(const char *path, const std::vector<std::string> &args,
                       const std::string &dir, const RunOptions &options) {
  std::string out_path = dir + "/stdout", err_path = dir + "/stderr";
  int keys[2];
  if (pipe(keys) != 0) return ProgramRun();
  pid_t child = fork();
  if (child == 0) {
    int out = options.stdout_fd >= 0 ? options.stdout_fd
                                     : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(options.stdin_fd >= 0 ? options.stdin_fd : keys[0], 0);
    dup2(out, 1);
    dup2(err, 2);
    close(keys[1]);
    exec_program(path, args, options.orn_home, options.environment);
  }
  close(keys[0]);
  int status = wait_at_most(child, options.timeout_ms);
  close(keys[1]);
  ProgramRun run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (options.stdout_fd < 0) run.out = read_text(out_path);
  run.err = read_text(err_path);
  return run;
}

namespace {

// Reads fd until its end (EOF, or EIO once a terminal's last user is gone).
void read_to_end(int fd, std::string *text) {
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, (size_t)n);
}

// The CRs before a line feed, the program's and the terminal's.
std::string without_cr_before_lf(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    size_t end = text.find_first_not_of('\r', i);
    if (text[i] == '\r' && end != std::string::npos && text[end] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

ProgramRun run_program_into(ProgramOutput output, const char *path,
                            const std::vector<std::string> &args, const std::string &dir,
                            RunOptions options) {
  options.stdout_fd = -1;
  if (output == OUTPUT_FILE) return run_program(path, args, dir, options);
  int ends[2] = {-1, -1};  // where the test reads, where the program writes
  winsize size = {40, 200, 0, 0};
  int made =
      output == OUTPUT_PIPE ? pipe(ends) : openpty(&ends[0], &ends[1], nullptr, nullptr, &size);
  if (made != 0) return ProgramRun();
  fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  std::string text;
  // A reader of its own, so that a full pipe never stops the program.
  std::thread reader(read_to_end, ends[0], &text);
  options.stdout_fd = ends[1];
  ProgramRun run = run_program(path, args, dir, options);
  close(ends[1]);
  reader.join();
  close(ends[0]);
  run.out = output == OUTPUT_TERMINAL ? without_cr_before_lf(text) : text;
  return run;
}

int count_of(const std::string &text, const std::string &part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

std::string with_dir(std::string text, const std::string &dir) {
  for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
    text.replace(at, 1, dir);
  }
  return text;
}

std::vector<std::string> with_dir(const std::vector<std::string> &texts, const std::string &dir) {
  std::vector<std::string> expanded;
  for (const std::string &t : texts) expanded.push_back(with_dir(t, dir));
  return expanded;
}

std::string system_words(int error) {
  locale_t messages = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", (locale_t)0);
  if (messages == (locale_t)0) return strerror(error);
  std::string text = strerror_l(error, messages);
  freelocale(messages);
  return text;
}
