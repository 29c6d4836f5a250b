// The application framework on Windows: Win32 threads and the common "open"
// dialog.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

// FNERR_BUFFERTOOSMALL
#include <cderr.h>

int framework_init(void) {
  return 0;
}

namespace {
struct ThreadStart {
  framework_thread_proc proc;
  void *param;
};

DWORD WINAPI thread_entry(LPVOID start_param) {
  ThreadStart start = *static_cast<ThreadStart *>(start_param);
  delete static_cast<ThreadStart *>(start_param);
  return start.proc(start.param);
}
}  // namespace

void *framework_begin_thread(framework_thread_proc proc, void *param) {
  ThreadStart *start = new ThreadStart{proc, param};
  HANDLE thread = CreateThread(nullptr, 0, thread_entry, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  return thread;
}

void framework_release_thread(void *thread) {
  if (thread != nullptr) CloseHandle(static_cast<HANDLE>(thread));
}

int framework_select_file(char *path, size_t size) {
  // The filter list ends in two NULs: "description\0pattern\0\0".
  static const char filter[] = "TextFiles (*.txt)\0*.txt\0";
  for (;;) {
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    path[0] = '\0';
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = (DWORD)size;
    // No owner, no default extension, no flags: the file need not exist yet.
    if (GetOpenFileNameA(&dialog)) return 0;
    DWORD error = CommDlgExtendedError();
    if (error == 0) return -1;  // the user cancelled
    if (error != FNERR_BUFFERTOOSMALL) {
      printf("Dateiauswahl fehlgeschlagen (Fehler %lu)\n", (unsigned long)error);
      return -1;
    }
    // A path longer than the buffer: say so and let the user choose again.
    printf("Der Pfad ist zu lang.\n");
  }
}
