// The file that replaces its target only when complete, on POSIX: a new file
// in the target's real folder, fsync and a rename at the end that replaces
// nothing unless the user agreed. A signal that ends the process cuts the file
// back to its whole lines and keeps them beside the target before the signal
// takes its course; the handlers only make async-signal-safe calls
// (ftruncate, renameat2, link, unlink, write, sigaction).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "services/file_replace.h"
#include "services/file_replace_names.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"

namespace {

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

ReplacementNames names;

std::atomic<int> file_fd{-1};
std::atomic<int> active{0};
std::atomic<int> may_replace{0};
std::atomic<long long> whole_length{0};
std::atomic<int> worth{0};

// The signals whose default ends the process; the same the terminal restores on.
const int ending_signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGUSR1, SIGUSR2,
                              SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,
#ifdef SIGPWR
                              SIGPWR,
#endif
                              SIGABRT, SIGBUS,  SIGSEGV, SIGFPE,    SIGILL,  SIGSYS};
struct sigaction previous[NSIG];
bool handled[NSIG];

int end_with(int error) {
  errno = error;
  return -1;
}

std::string folder_of(const std::string &path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows links to the name a write would reach. -1 with errno when that is
// something other than a regular file, or the name cannot be a file's.
int resolve_target(const char *target, std::string *resolved) {
  std::string path = target;
  for (int depth = 0; depth < 16; depth++) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      if (errno != ENOENT) return -1;
      *resolved = path;  // nothing there yet; a missing folder shows at the create
      return 0;
    }
    if (!S_ISLNK(status.st_mode)) {
      if (S_ISDIR(status.st_mode)) return end_with(EISDIR);
      if (!S_ISREG(status.st_mode)) return end_with(ENOTREGULAR);
      *resolved = path;
      return 0;
    }
    char link[PATH_MAX];
    ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
    if (length < 0) return -1;
    std::string destination(link, (size_t)length);
    path = destination[0] == '/' ? destination : folder_of(path) + "/" + destination;
  }
  errno = ELOOP;
  return -1;
}

int make_new_file(const std::string &folder) {
  static unsigned counter;
  for (int attempt = 0; attempt < 100; attempt++) {
    snprintf(names.temporary, sizeof names.temporary, "%s/.neu-%ld-%u", folder.c_str(),
             (long)getpid(), counter++);
    int fd = open(names.temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Cuts the file back to its whole lines and keeps them, or removes it.
// Returns 1 when the lines were kept. Async-signal-safe.
int keep_or_remove(void) {
  int fd = file_fd.exchange(-1);
  if (fd >= 0) {
    if (ftruncate(fd, (off_t)whole_length.load()) != 0) {
      // what is beyond the whole lines cannot be cut: keep nothing
      worth.store(0);
    }
    close(fd);
  }
  if (worth.load() && whole_length.load() > 0 &&
      partial_keep(&names, names.temporary, move_without_replacing) == 0) {
    return 1;
  }
  unlink(names.temporary);
  return 0;
}

void on_ending_signal(int signal_number) {
  int saved_errno = errno;
  if (active.exchange(0) && keep_or_remove()) {
    ssize_t ignored = write(2, names.kept_message, strlen(names.kept_message));
    (void)ignored;
  }
  // What was there before (the terminal's restore, or the default) follows.
  sigaction(signal_number, &previous[signal_number], nullptr);
  errno = saved_errno;
  raise(signal_number);
}

void install_handlers(void) {
  for (int signal_number : ending_signals) {
    struct sigaction action = {};
    action.sa_handler = on_ending_signal;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    handled[signal_number] = sigaction(signal_number, &action, &previous[signal_number]) == 0;
    // One the program ignores (SIGHUP under nohup) stays ignored.
    if (handled[signal_number] && previous[signal_number].sa_handler == SIG_IGN) {
      sigaction(signal_number, &previous[signal_number], nullptr);
      handled[signal_number] = false;
    }
  }
}

void remove_handlers(void) {
  for (int signal_number : ending_signals) {
    if (handled[signal_number]) sigaction(signal_number, &previous[signal_number], nullptr);
    handled[signal_number] = false;
  }
}

// An exit from anywhere while the file is open keeps its lines, as a signal does.
void on_exit(void) {
  if (active.load() == 0) return;
  const char *kept = replacement_abandon();
  if (kept != nullptr) fputs(names.kept_message, stderr);
}

int write_whole(int fd, const char *text, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return -1;
    text += written;
    length -= (size_t)written;
  }
  return 0;
}

// Makes the rename itself survive a power failure.
void sync_folder(void) {
  int fd = open(folder_of(names.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The names of the kept lines, beside the real file, and their message.
int prepare_partial_names(const char *target, const std::string &resolved) {
  long name_max = pathconf(folder_of(resolved).c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  // UTF-8, not code page 850: a signal handler writes it past the console layer.
  std::string tail = ", " + shown_text(target) + " ist unver\xC3\xA4ndert.\r\n";
  return partial_names_prepare(&names, resolved.c_str(), (size_t)name_max,
                               "\r\nDie gelesenen Zeilen stehen in ", tail.c_str());
}

// What is at the target now may be replaced: the user agreed, and it is a
// file (or a link), not something that appeared in its stead.
int replace_allowed(void) {
  struct stat status;
  if (lstat(names.target, &status) != 0 || S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) {
    return 0;
  }
  return end_with(S_ISDIR(status.st_mode) ? EISDIR : ENOTREGULAR);
}

// Puts the new file at the target: replacing only what the user agreed to.
int put_in_place(void) {
  if (!may_replace.load()) return move_without_replacing(names.temporary, names.target);
  if (replace_allowed() != 0) return -1;
  return rename(names.temporary, names.target);
}

}  // namespace

int move_by_link(const char *from, const char *to) {
  if (link(from, to) != 0) return -1;
  unlink(from);
  return 0;
}

int move_without_replacing(const char *from, const char *to) {
#ifdef SYS_renameat2
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  return move_by_link(from, to);
}

int replacement_open(const char *target, int replace) {
  if (active.load()) return end_with(EBUSY);
  std::string resolved;
  if (resolve_target(target, &resolved) != 0) return -1;
  if (resolved.size() + 16 >= sizeof names.target) return end_with(ENAMETOOLONG);
  snprintf(names.target, sizeof names.target, "%s", resolved.c_str());
  int fd = make_new_file(folder_of(resolved));
  if (fd < 0) return -1;
  if (prepare_partial_names(target, resolved) != 0) {
    close(fd);
    unlink(names.temporary);
    return end_with(ENAMETOOLONG);
  }
  struct stat status;
  if (stat(names.target, &status) == 0) fchmod(fd, status.st_mode & 07777);
  whole_length.store(0);
  worth.store(0);
  may_replace.store(replace != 0);
  file_fd.store(fd);
  static bool exit_registered = false;
  if (!exit_registered) exit_registered = atexit(on_exit) == 0;
  install_handlers();
  active.store(1);
  return 0;
}

int replacement_write_line(const char *line, size_t length, int worth_keeping) {
  int fd = file_fd.load();
  if (fd < 0) return end_with(EBADF);
  if (write_whole(fd, line, length) != 0) return -1;
  whole_length.fetch_add(length);
  if (worth_keeping) worth.store(1);
  return 0;
}

int replacement_commit(void) {
  int fd = file_fd.load();
  if (!active.load() || fd < 0) return end_with(EBADF);
  if (fsync(fd) != 0) return -1;
  file_fd.store(-1);
  if (close(fd) != 0) return -1;
  if (put_in_place() != 0) {
    // A complete file that found its place taken is kept whole.
    if (errno == EEXIST) worth.store(1);
    return -1;
  }
  active.store(0);
  remove_handlers();
  sync_folder();
  return 0;
}

const char *replacement_abandon(void) {
  if (active.exchange(0) == 0) return nullptr;
  int kept = keep_or_remove();
  remove_handlers();
  return kept ? names.partial : nullptr;
}

const char *replacement_temporary_name(void) {
  return active.load() ? names.temporary : nullptr;
}
