// The start of both programs on POSIX, and opening a user's file without
// blocking on something that is no regular file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/safe_start.h"

namespace {

// open() flags for an fopen mode: "r" and "rb" read, anything else writes a
// new or emptied file.
int open_flags(const char *mode) {
  if (mode[0] == 'r') return O_RDONLY;
  return O_WRONLY | O_CREAT | O_TRUNC;
}

// The streams open_regular_file gave out and that are not closed yet: what
// _fcloseall closes.
std::mutex open_files_lock;
std::vector<FILE *> open_files;

int refuse(int fd, int error) {
  close(fd);
  errno = error;
  return -1;
}

}  // namespace

// O_NONBLOCK: a FIFO without a writer would block the open for ever, and no
// key could end it. It is cleared again for a regular file, where it means
// nothing anyway.
int open_regular_descriptor(const char *path, int flags, int permissions) {
  int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, permissions);
  if (fd < 0) return -1;
  struct stat status;
  if (fstat(fd, &status) != 0) return refuse(fd, errno);
  if (S_ISDIR(status.st_mode)) return refuse(fd, EISDIR);
  if (!S_ISREG(status.st_mode)) return refuse(fd, ENOTREGULAR);
  int status_flags = fcntl(fd, F_GETFL);
  if (status_flags < 0 || fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK) != 0) {
    return refuse(fd, errno);
  }
  return fd;
}

void platform_safe_start(void) {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one.
    int null = open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) close(null);
  }
  signal(SIGPIPE, SIG_IGN);
  // After the descriptors: a standard stream that was closed is /dev/null now.
  platform_streams_begin();
}

FILE *open_regular_file(const char *path, const char *mode) {
  int fd = open_regular_descriptor(path, open_flags(mode), 0666);
  if (fd < 0) return nullptr;
  FILE *stream = fdopen(fd, mode);
  if (stream == nullptr) {
    refuse(fd, errno);  // keeps fdopen's errno
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(open_files_lock);
  open_files.push_back(stream);
  return stream;
}

int close_regular_file(FILE *stream) {
  {
    std::lock_guard<std::mutex> hold(open_files_lock);
    open_files.erase(std::remove(open_files.begin(), open_files.end(), stream), open_files.end());
  }
  return fclose(stream);
}

int _fcloseall(void) {
  std::vector<FILE *> closing;
  {
    std::lock_guard<std::mutex> hold(open_files_lock);
    closing.swap(open_files);
  }
  for (FILE *stream : closing) fclose(stream);
  return (int)closing.size();
}
