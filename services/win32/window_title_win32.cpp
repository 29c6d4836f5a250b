// The console window's title on Windows, kept before the first change and put
// back at the end (also when the program exits in the middle of a job).
#include <windows.h>

#include <cstdlib>

#include "services/title_progress.h"

namespace {
char kept[1024];
bool changed;

void restore_at_exit(void) {
  window_title_restore();
}
}  // namespace

void window_title_set(const char *text) {
  if (!changed) {
    if (GetConsoleTitleA(kept, sizeof kept) == 0) kept[0] = '\0';
    changed = true;
    static bool registered = false;
    if (!registered) atexit(restore_at_exit);
    registered = true;
  }
  SetConsoleTitleA(text);
}

void window_title_restore(void) {
  if (!changed) return;
  changed = false;
  SetConsoleTitleA(kept);
}
