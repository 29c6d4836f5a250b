// The file that replaces its target only when complete, on Windows: a new file
// in the target's folder, FlushFileBuffers and MoveFileExA at the end, which
// replaces nothing unless the user agreed (MOVEFILE_REPLACE_EXISTING only
// then). Lines are written with CR LF, as the C library's text mode writes
// them.
//
// Ctrl+C, Ctrl+Break or a closing window run a handler on a thread of their
// own while the program goes on writing; the lock lets a line finish, and the
// handler keeps it held, so that nothing is written after the lines were kept.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "services/file_replace.h"
#include "services/file_replace_names.h"
#include "platform/platform.h"
#include "platform/safe_start.h"
#include "services/shown_text.h"

namespace {

ReplacementNames names;

HANDLE file = INVALID_HANDLE_VALUE;
bool active = false;
bool may_replace = false;
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
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
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

// Puts from at to unless something is there (errno EEXIST).
int move_without_replacing(const char *from, const char *to) {
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) ? 0 : fail_with_last_error();
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
      partial_keep(&names, names.temporary, move_without_replacing) == 0) {
    return 1;
  }
  DeleteFileA(names.temporary);
  return 0;
}

BOOL WINAPI on_console_event(DWORD) {
  EnterCriticalSection(&lock);  // held for good: the process is ending
  if (active) {
    active = false;
    if (keep_or_remove()) fputs(names.kept_message, stderr);
  }
  return FALSE;  // the next handler, and the end of the process, follow
}

// An exit from anywhere while the file is open keeps its lines too.
void on_exit(void) {
  if (!active) return;
  if (replacement_abandon() != nullptr) fputs(names.kept_message, stderr);
}

void set_up_once(void) {
  if (set_up) return;
  set_up = true;
  InitializeCriticalSection(&lock);
  atexit(on_exit);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

// The names of the kept lines and their message. A name may be as long as
// the file system takes (255) and the whole path as the A calls take.
int prepare_partial_names(const char *target) {
  char full[MAX_PATH];
  char *leaf = nullptr;
  DWORD length = GetFullPathNameA(target, sizeof full, full, &leaf);
  if (length == 0 || length >= sizeof full) return end_with(ENAMETOOLONG);
  size_t folder = leaf != nullptr ? (size_t)(leaf - full) : length;
  size_t name_max = MAX_PATH - 1 - folder < 255 ? MAX_PATH - 1 - folder : 255;
  std::string tail = ", " + shown_text(target) + " ist unver\x84ndert.\n";
  return partial_names_prepare(&names, target, name_max, "\nDie gelesenen Zeilen stehen in ",
                               tail.c_str());
}

// Puts the new file at the target: replacing only what the user agreed to,
// and never a folder or a device that appeared in its stead.
int put_in_place(void) {
  if (!may_replace) return move_without_replacing(names.temporary, names.target);
  if (check_target(names.target) != 0) return -1;
  return MoveFileExA(names.temporary, names.target,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : fail_with_last_error();
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

int replacement_open(const char *target, int replace) {
  set_up_once();
  if (active) return end_with(EBUSY);
  if (check_target(target) != 0) return -1;
  if (strlen(target) + 16 >= MAX_PATH + 64) return end_with(ENAMETOOLONG);
  if (GetTempFileNameA(folder_of(target).c_str(), "neu", 0, names.temporary) == 0) {
    return fail_with_last_error();
  }
  HANDLE made = CreateFileA(names.temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (made != INVALID_HANDLE_VALUE && prepare_partial_names(target) != 0) {
    CloseHandle(made);
    DeleteFileA(names.temporary);
    return end_with(ENAMETOOLONG);
  }
  if (made == INVALID_HANDLE_VALUE) {
    int error = errno_of(GetLastError());
    DeleteFileA(names.temporary);
    return end_with(error);
  }
  snprintf(names.target, sizeof names.target, "%s", target);
  EnterCriticalSection(&lock);
  file = made;
  whole_length = 0;
  worth = false;
  may_replace = replace != 0;
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
    if (put_in_place() == 0) {
      active = false;
      result = 0;
    } else if (errno == EEXIST) {
      worth = true;  // a complete file that found its place taken is kept whole
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
  return kept ? names.partial : nullptr;
}

const char *replacement_temporary_name(void) {
  return active ? names.temporary : nullptr;
}
