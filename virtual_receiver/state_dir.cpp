// The receiver's files in DIR: cvs.txt, flash.bin and wire.log.
//
// Opening checks everything before it writes anything, so that a DIR that
// cannot be used, or a cvs.txt it cannot read, fails the open and leaves the
// files as they were. Rewrites go to a temporary file that is then renamed, so
// a reader never sees a half-written cvs.txt or flash.bin.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "virtual_receiver/receiver_state.h"

namespace {

const size_t CVS_TEXT_LIMIT = 64 * 1024;

std::string path_in(const VirtualReceiver *vr, const char *file) {
  return vr->options.dir + "/" + file;
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
  DWORD error = written ? vr_replace_file(temporary, path) : (DWORD)ERROR_WRITE_FAULT;
  if (error != ERROR_SUCCESS) remove(temporary.c_str());
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

DWORD load_state(VirtualReceiver *vr) {
  bool cvs_found = false;
  DWORD error = vr_probe_writable(vr->options.dir);
  if (error == ERROR_SUCCESS) error = load_cvs(vr, &cvs_found);
  if (error == ERROR_SUCCESS) error = load_flash(vr);
  if (error == ERROR_SUCCESS) error = vr_open_fresh(path_in(vr, "wire.log"), &vr->wire_log_fd);
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
  DWORD error = vr_make_dir(vr->options.dir);
  if (error == ERROR_SUCCESS) error = vr_lock_dir(vr->options.dir, &vr->dir_lock_fd);
  if (error == ERROR_SUCCESS) error = load_state(vr);
  if (error != ERROR_SUCCESS) vr_close_state_dir(vr);
  return error;
}

void vr_close_state_dir(VirtualReceiver *vr) {
  vr_close_file(&vr->wire_log_fd);
  vr_close_file(&vr->dir_lock_fd);
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
