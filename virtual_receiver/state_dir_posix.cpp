// The receiver's file calls on POSIX (see receiver_state.h).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "virtual_receiver/receiver_state.h"

DWORD vr_make_dir(const std::string &dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      return vr_win32_error_of_errno(errno);
    }
    if (slash == std::string::npos) break;
  }
  struct stat info;
  if (stat(dir.c_str(), &info) != 0) return vr_win32_error_of_errno(errno);
  return S_ISDIR(info.st_mode) ? (DWORD)ERROR_SUCCESS : (DWORD)ERROR_PATH_NOT_FOUND;
}

DWORD vr_lock_dir(const std::string &dir, int *lock_fd) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return vr_win32_error_of_errno(errno);
  // A file system without locks (ENOLCK) only loses us the guard.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    return ERROR_ACCESS_DENIED;
  }
  *lock_fd = fd;
  return ERROR_SUCCESS;
}

DWORD vr_probe_writable(const std::string &dir) {
  std::string probe = dir + "/.probe-XXXXXX";
  int fd = mkstemp(&probe[0]);
  if (fd < 0) return vr_win32_error_of_errno(errno);
  close(fd);
  unlink(probe.c_str());
  return ERROR_SUCCESS;
}

DWORD vr_open_fresh(const std::string &path, int *fd) {
  *fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return *fd < 0 ? vr_win32_error_of_errno(errno) : (DWORD)ERROR_SUCCESS;
}

void vr_append(int fd, const char *text, size_t length) {
  ssize_t written = write(fd, text, length);
  (void)written;
}

DWORD vr_replace_file(const std::string &from, const std::string &to) {
  return rename(from.c_str(), to.c_str()) == 0 ? (DWORD)ERROR_SUCCESS
                                               : vr_win32_error_of_errno(errno);
}

void vr_close_file(int *fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}
