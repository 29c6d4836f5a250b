// The receiver's files in DIR: cvs.txt, flash.bin and wire.log.
//
// Opening checks everything before it writes anything, so that a DIR that
// cannot be used, or a cvs.txt it cannot read, fails the open and leaves the
// files as they were. Rewrites go to a temporary file that is then renamed, so
// a reader never sees a half-written cvs.txt or flash.bin.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "virtual_receiver/receiver_state.h"

namespace {

const size_t CVS_TEXT_LIMIT = 64 * 1024;

std::string path_in(const VirtualReceiver *vr, const char *file) {
  return vr->options.dir + "/" + file;
}

// mkdir -p: each missing folder on the way.
DWORD make_dir(const std::string &dir) {
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

// One receiver per DIR at a time, across processes too, as with a real port.
DWORD lock_dir(VirtualReceiver *vr) {
  int fd = open(vr->options.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return vr_win32_error_of_errno(errno);
  // A file system without locks (ENOLCK) only loses us the guard.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    return ERROR_ACCESS_DENIED;
  }
  vr->dir_lock_fd = fd;
  return ERROR_SUCCESS;
}

// Can we create files in DIR? Tried with a file of our own, so that no
// existing file is touched.
DWORD probe_writable(const VirtualReceiver *vr) {
  std::string probe = path_in(vr, ".probe-XXXXXX");
  int fd = mkstemp(&probe[0]);
  if (fd < 0) return vr_win32_error_of_errno(errno);
  close(fd);
  unlink(probe.c_str());
  return ERROR_SUCCESS;
}

// Reads a whole file of at most limit bytes. ERROR_FILE_NOT_FOUND when it is
// not there.
DWORD read_file(const std::string &path, size_t limit, std::string *content) {
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr && errno == ENOENT) return ERROR_FILE_NOT_FOUND;
  if (file == nullptr) return vr_win32_error_of_errno(errno);
  content->clear();
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0 && content->size() <= limit) {
    content->append(buffer, got);
  }
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) return ERROR_READ_FAULT;
  return content->size() > limit ? (DWORD)ERROR_INVALID_DATA : (DWORD)ERROR_SUCCESS;
}

DWORD write_file_atomically(const std::string &path, const void *data, size_t size) {
  std::string temporary = path + ".new";
  FILE *file = fopen(temporary.c_str(), "wb");
  if (file == nullptr) return vr_win32_error_of_errno(errno);
  bool written = fwrite(data, 1, size, file) == size;
  written = fclose(file) == 0 && written;
  if (written && rename(temporary.c_str(), path.c_str()) == 0) return ERROR_SUCCESS;
  DWORD error = written ? vr_win32_error_of_errno(errno) : (DWORD)ERROR_WRITE_FAULT;
  unlink(temporary.c_str());
  return error;
}

// A missing cvs.txt is a new receiver; one we cannot read or parse fails.
DWORD load_cvs(VirtualReceiver *vr, bool *found) {
  std::string text;
  DWORD error = read_file(path_in(vr, "cvs.txt"), CVS_TEXT_LIMIT, &text);
  *found = error != ERROR_FILE_NOT_FOUND;
  if (!*found) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  uint8_t cvs[2][VR_CV_COUNT];
  if (vr_parse_cvs(text, cvs) != 0) return ERROR_INVALID_DATA;
  memcpy(vr->cvs, cvs, sizeof cvs);
  return ERROR_SUCCESS;
}

DWORD load_flash(VirtualReceiver *vr) {
  std::string image;
  DWORD error = read_file(path_in(vr, "flash.bin"), VR_PAGE_LIMIT * 128, &image);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  vr->flash.assign(image.begin(), image.end());
  return ERROR_SUCCESS;
}

DWORD open_wire_log(VirtualReceiver *vr) {
  vr->wire_log_fd =
      open(path_in(vr, "wire.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return vr->wire_log_fd < 0 ? vr_win32_error_of_errno(errno) : (DWORD)ERROR_SUCCESS;
}

DWORD load_state(VirtualReceiver *vr) {
  bool cvs_found = false;
  DWORD error = probe_writable(vr);
  if (error == ERROR_SUCCESS) error = load_cvs(vr, &cvs_found);
  if (error == ERROR_SUCCESS) error = load_flash(vr);
  if (error == ERROR_SUCCESS) error = open_wire_log(vr);
  // A new receiver shows its factory values in DIR at once.
  if (error == ERROR_SUCCESS && !cvs_found) error = vr_save_cvs(vr);
  return error;
}

}  // namespace

DWORD vr_win32_error_of_errno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD vr_open_state_dir(VirtualReceiver *vr) {
  if (vr->options.dir.empty()) return ERROR_SUCCESS;
  DWORD error = make_dir(vr->options.dir);
  if (error == ERROR_SUCCESS) error = lock_dir(vr);
  if (error == ERROR_SUCCESS) error = load_state(vr);
  if (error != ERROR_SUCCESS) vr_close_state_dir(vr);
  return error;
}

void vr_close_state_dir(VirtualReceiver *vr) {
  if (vr->wire_log_fd >= 0) close(vr->wire_log_fd);
  vr->wire_log_fd = -1;
  if (vr->dir_lock_fd >= 0) close(vr->dir_lock_fd);
  vr->dir_lock_fd = -1;
}

DWORD vr_save_cvs(VirtualReceiver *vr) {
  if (vr->options.dir.empty()) return ERROR_SUCCESS;
  std::string text = vr_format_cvs(vr->cvs);
  return write_file_atomically(path_in(vr, "cvs.txt"), text.data(), text.size());
}

DWORD vr_save_flash(VirtualReceiver *vr) {
  if (vr->options.dir.empty()) return ERROR_SUCCESS;
  return write_file_atomically(path_in(vr, "flash.bin"), vr->flash.data(), vr->flash.size());
}
