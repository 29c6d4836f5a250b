// Win32 error codes on POSIX: each thread's last error, the errno values they
// come from, and the texts FormatMessageA gives for them; and the system's own
// words (strerror) for a failure the user reads about.
#include <locale.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/port_open_cause.h"
#include "platform/posix/tty_device_posix.h"

namespace {

// Like Windows, every thread has its own last error. The errno beside it is
// the one the code was made from (0: the code was set directly).
thread_local DWORD last_error = ERROR_SUCCESS;
thread_local int last_errno = 0;

struct ErrnoCode {
  int error;
  DWORD code;
};

// A missing device must read as 2 and a taken or forbidden one as 5, as the
// programs' messages on Windows show them.
const ErrnoCode errno_codes[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENODEV, ERROR_FILE_NOT_FOUND},
    {ENXIO, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_ACCESS_DENIED},
    {EWOULDBLOCK, ERROR_ACCESS_DENIED},  // flock: another process holds the port
    {EROFS, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},  // as Windows answers a directory
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EIO, ERROR_GEN_FAILURE},
    {ENOTTY, ERROR_NOT_SUPPORTED},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ECANCELED, ERROR_OPERATION_ABORTED},
};

struct CodeText {
  DWORD code;
  const char *text;
};

// The texts Windows gives, so that a message reads the same on both systems.
const CodeText code_texts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_BAD_COMMAND, "The device does not recognize the command."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress."},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected."},
};

const char *code_text(DWORD code) {
  for (const CodeText &entry : code_texts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

}  // namespace

DWORD GetLastError(void) {
  return last_error;
}

void SetLastError(DWORD code) {
  last_error = code;
  last_errno = 0;
}

DWORD win32_error_from_errno(int error) {
  for (const ErrnoCode &entry : errno_codes) {
    if (entry.error == error) return entry.code;
  }
  return ERROR_GEN_FAILURE;
}

void set_last_error_from_errno(int error) {
  last_error = win32_error_from_errno(error);
  last_errno = error;
}

DWORD FormatMessageA(DWORD flags, const void *, DWORD message_id, DWORD, LPSTR buffer, DWORD size,
                     void *) {
  const char *text = code_text(message_id);
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || text == nullptr) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    SetLastError(text == nullptr ? ERROR_MR_MID_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return 0;
  }
  char message[512];
  // Name the system's own reason too when the code came from it on this thread.
  int length;
  if (message_id == last_error && last_errno != 0) {
    length = snprintf(message, sizeof message, "%s (%s)\r\n", text, strerror(last_errno));
  } else {
    length = snprintf(message, sizeof message, "%s\r\n", text);
  }
  if (buffer == nullptr || length < 0 || (DWORD)length >= size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(buffer, message, (size_t)length + 1);
  return (DWORD)length;
}

// ---------------------------------------------------------------- why an open failed

namespace {

// The errno whose words fit a code that was set without one: a port taken by
// another program (flock) is busy, a regular file is no terminal.
const ErrnoCode code_errnos[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EBUSY, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EIO, ERROR_GEN_FAILURE},
    {ENOTTY, ERROR_NOT_SUPPORTED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ECANCELED, ERROR_OPERATION_ABORTED},
    {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
};

// The errno behind code: the one it was made from on this thread, else the
// one that fits it; 0 for a code no errno fits.
int errno_behind(DWORD code) {
  if (code == last_error && last_errno != 0) return last_errno;
  for (const ErrnoCode &entry : code_errnos) {
    if (entry.code == code) return entry.error;
  }
  return 0;
}

// The C library's messages in the user's language and character set, made
// once; the program's own locale (numbers, character classes) stays "C".
locale_t user_messages(void) {
  static locale_t messages = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", (locale_t)0);
  return messages;
}

}  // namespace

void describe_system_error(unsigned long code, char *text, size_t text_size) {
  int error = errno_behind((DWORD)code);
  if (error == 0) {
    snprintf(text, text_size, "Error %lu", code);
    return;
  }
  locale_t messages = user_messages();
  snprintf(text, text_size, "%s",
           messages != (locale_t)0 ? strerror_l(error, messages) : strerror(error));
  text[strcspn(text, "\r\n")] = '\0';
}

void describe_port_open_failure(unsigned long code, char *text, size_t text_size, char *advice,
                                size_t advice_size) {
  int error = code == last_error ? last_errno : 0;
  describe_system_error(code, text, text_size);
  advice[0] = '\0';
  if (code != ERROR_ACCESS_DENIED) return;
  if (error == EACCES || error == EPERM) {
    snprintf(advice, advice_size,
             "Keine Berechtigung: Benutzer in die Gruppe dialout aufnehmen "
             "(usermod -aG dialout BENUTZER) und neu anmelden.");
  } else if (error == 0 || error == EBUSY || error == EWOULDBLOCK) {
    snprintf(advice, advice_size,
             "Die Schnittstelle ist belegt: ein anderes Programm hat sie offen.");
  }
}
