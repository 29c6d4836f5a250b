// The file that replaces its target only when complete, on Windows: a new file
// in the target's folder, FlushFileBuffers and MoveFileExA at the end. Lines
// are written with CR LF, as the C library's text mode writes them.
//
// Ctrl+C, Ctrl+Break or a closing window run a handler on a thread of their
// own while the program goes on writing; the lock lets a line finish, and the
// handler keeps it held, so that nothing is written after the lines were kept.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_replace.h"
#include "platform/platform.h"
#include "platform/safe_start.h"
#include "platform/shown_text.h"

namespace {

const size_t NAME_SIZE = MAX_PATH + 64;

char target_path[NAME_SIZE];
char temporary_path[NAME_SIZE];
char partial_path[NAME_SIZE];
char kept_message[2 * NAME_SIZE];
HANDLE file = INVALID_HANDLE_VALUE;
bool active = false;
LONGLONG whole_length = 0;
bool worth = false;
CRITICAL_SECTION lock;
bool set_up = false;

int end_with(int error) {
  errno = error;
  return -1;
}

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    default:
      return EIO;
  }
}

int fail_with_last_error(void) {
  return end_with(errno_of(GetLastError()));
}

std::string folder_of(const char *path) {
  std::string name = path;
  size_t slash = name.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? name.substr(0, 1) : name.substr(0, slash);
}

// A directory, or a name such as CON or COM1 that opens a device, cannot be
// replaced by a file.
int check_target(const char *target) {
  DWORD attributes = GetFileAttributesA(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : end_with(errno_of(error));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return end_with(EISDIR);
  HANDLE existing = CreateFileA(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing == INVALID_HANDLE_VALUE) return 0;
  DWORD type = GetFileType(existing);
  CloseHandle(existing);
  return type == FILE_TYPE_DISK ? 0 : end_with(ENOTREGULAR);
}

// Cuts the file back to its whole lines and keeps them, or removes it.
// Returns 1 when the lines were kept.
int keep_or_remove(void) {
  if (file != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER length;
    length.QuadPart = whole_length;
    if (!SetFilePointerEx(file, length, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) worth = false;
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (worth && whole_length > 0 &&
      MoveFileExA(temporary_path, partial_path,
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 1;
  }
  DeleteFileA(temporary_path);
  return 0;
}

BOOL WINAPI on_console_event(DWORD) {
  EnterCriticalSection(&lock);  // held for good: the process is ending
  if (active) {
    active = false;
    if (keep_or_remove()) fputs(kept_message, stderr);
  }
  return FALSE;  // the next handler, and the end of the process, follow
}

// An exit from anywhere while the file is open keeps its lines too.
void on_exit(void) {
  if (!active) return;
  if (replacement_abandon() != nullptr) fputs(kept_message, stderr);
}

void set_up_once(void) {
  if (set_up) return;
  set_up = true;
  InitializeCriticalSection(&lock);
  atexit(on_exit);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

// LF becomes CR LF, as in a file the C library writes in text mode.
std::string with_line_ends(const char *text) {
  std::string out;
  for (; *text != '\0'; text++) {
    if (*text == '\n') out += '\r';
    out += *text;
  }
  return out;
}

int write_locked(const std::string &text, int worth_keeping) {
  if (file == INVALID_HANDLE_VALUE) return end_with(EBADF);
  DWORD written = 0;
  if (!WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr)) {
    return fail_with_last_error();
  }
  if (written != text.size()) return end_with(ENOSPC);
  whole_length += written;
  if (worth_keeping) worth = true;
  return 0;
}

}  // namespace

int replacement_open(const char *target) {
  set_up_once();
  if (active) return end_with(EBUSY);
  if (check_target(target) != 0) return -1;
  if (strlen(target) + 16 >= NAME_SIZE) return end_with(ENAMETOOLONG);
  if (GetTempFileNameA(folder_of(target).c_str(), "neu", 0, temporary_path) == 0) {
    return fail_with_last_error();
  }
  HANDLE made = CreateFileA(temporary_path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    int error = errno_of(GetLastError());
    DeleteFileA(temporary_path);
    return end_with(error);
  }
  snprintf(target_path, sizeof target_path, "%s", target);
  snprintf(partial_path, sizeof partial_path, "%s%s", target, REPLACEMENT_PARTIAL_SUFFIX);
  snprintf(kept_message, sizeof kept_message,
           "\nDie gelesenen Zeilen stehen in %s, %s ist unver\x84ndert.\n",
           shown_text(partial_path).c_str(), shown_text(target).c_str());
  EnterCriticalSection(&lock);
  file = made;
  whole_length = 0;
  worth = false;
  active = true;
  LeaveCriticalSection(&lock);
  return 0;
}

int replacement_write_line(const char *line, size_t, int worth_keeping) {
  std::string text = with_line_ends(line);
  EnterCriticalSection(&lock);
  int result = write_locked(text, worth_keeping);
  LeaveCriticalSection(&lock);
  return result;
}

int replacement_commit(void) {
  EnterCriticalSection(&lock);
  int result = -1;
  if (!active || file == INVALID_HANDLE_VALUE) {
    end_with(EBADF);
  } else if (!FlushFileBuffers(file)) {
    fail_with_last_error();
  } else {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    if (MoveFileExA(temporary_path, target_path,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      active = false;
      result = 0;
    } else {
      fail_with_last_error();
    }
  }
  LeaveCriticalSection(&lock);
  return result;
}

const char *replacement_abandon(void) {
  if (!set_up) return nullptr;
  EnterCriticalSection(&lock);
  int kept = 0;
  if (active) {
    active = false;
    kept = keep_or_remove();
  }
  LeaveCriticalSection(&lock);
  return kept ? partial_path : nullptr;
}

const char *replacement_temporary_name(void) {
  return active ? temporary_path : nullptr;
}
