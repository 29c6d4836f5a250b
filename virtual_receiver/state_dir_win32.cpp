// The receiver's file calls on Windows (see receiver_state.h). Paths take
// either slash; the descriptors are the C runtime's over Win32 handles.
#include <fcntl.h>
#include <io.h>

#include "virtual_receiver/receiver_state.h"

// The receiver's own files are no port: the plain calls, not the port shim's,
// so that the receiver needs nothing of the platform library.
#undef CreateFileA
#undef WriteFile
#undef CloseHandle

namespace {

bool is_dir(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A handle that another holds without sharing is the same as a port in use.
DWORD open_error(void) {
  DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION ? (DWORD)ERROR_ACCESS_DENIED : error;
}

DWORD descriptor_of(HANDLE handle, int flags, int *fd) {
  if (handle == INVALID_HANDLE_VALUE) return open_error();
  *fd = _open_osfhandle((intptr_t)handle, flags);
  if (*fd >= 0) return ERROR_SUCCESS;
  CloseHandle(handle);
  return ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace

DWORD vr_make_dir(const std::string &dir) {
  size_t start = dir.find_first_not_of("\\/");
  // "C:\": a drive is there or not; folders begin after it.
  if (dir.size() > 1 && dir[1] == ':') start = dir.find_first_not_of("\\/", 2);
  for (size_t slash = dir.find_first_of("\\/", start);;
       slash = dir.find_first_of("\\/", slash + 1)) {
    std::string part = dir.substr(0, slash);
    if (!part.empty() && !CreateDirectoryA(part.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS && !is_dir(part)) {
      return GetLastError() == ERROR_FILE_NOT_FOUND ? (DWORD)ERROR_PATH_NOT_FOUND : GetLastError();
    }
    if (slash == std::string::npos) break;
  }
  return is_dir(dir) ? (DWORD)ERROR_SUCCESS : (DWORD)ERROR_PATH_NOT_FOUND;
}

// A hidden lock file that no one else may open and that goes when we close
// it, or when the process ends. Not the folder itself without sharing: that
// would keep everyone from listing it.
DWORD vr_lock_dir(const std::string &dir, int *lock_fd) {
  std::string lock = dir + "/.lock";
  HANDLE handle = CreateFileA(lock.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  return descriptor_of(handle, _O_WRONLY, lock_fd);
}

DWORD vr_probe_writable(const std::string &dir) {
  char probe[MAX_PATH];
  if (GetTempFileNameA(dir.c_str(), "prb", 0, probe) == 0) return GetLastError();
  DeleteFileA(probe);
  return ERROR_SUCCESS;
}

// Appending by the system: lines from two processes never overwrite.
DWORD vr_open_fresh(const std::string &path, int *fd) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return descriptor_of(handle, _O_WRONLY | _O_BINARY, fd);
}

void vr_append(int fd, const char *text, size_t length) {
  DWORD written = 0;
  WriteFile((HANDLE)_get_osfhandle(fd), text, (DWORD)length, &written, nullptr);
}

DWORD vr_replace_file(const std::string &from, const std::string &to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return ERROR_SUCCESS;
  return GetLastError();
}

void vr_close_file(int *fd) {
  if (*fd >= 0) _close(*fd);
  *fd = -1;
}
