// The ending note on Windows. The console runs its control handlers on a
// thread of their own while the program goes on: a lock keeps the note whole,
// and the handler keeps it held, so that nothing changes it afterwards.
#include <cstdio>
#include <string>

#include "services/ending_note.h"
#include "platform/platform.h"

namespace {

CRITICAL_SECTION lock;
std::string note;
bool set_up = false;

// Every event ends the process after the handlers: the note, then the next
// handler (the code pages back, the default end).
BOOL WINAPI on_console_event(DWORD) {
  EnterCriticalSection(&lock);  // held for good: the process is ending
  if (!note.empty()) {
    fputs(note.c_str(), stderr);
    fflush(stderr);
  }
  note.clear();
  return FALSE;
}

}  // namespace

void ending_note_set(const char *text) {
  if (!set_up) {
    if (text == nullptr || text[0] == '\0') return;
    set_up = true;
    InitializeCriticalSection(&lock);
    SetConsoleCtrlHandler(on_console_event, TRUE);
  }
  EnterCriticalSection(&lock);
  note = text != nullptr ? text : "";
  LeaveCriticalSection(&lock);
}
