// The console's code pages while a program runs (see console_text_win32.h).
// The code pages belong to the console, not to the process: the shell that
// started us shares them, so whatever we found goes back on every way out.
#include <windows.h>

#include <cstdlib>

#include "platform/unattended_run.h"
#include "platform/win32/console_text_win32.h"

namespace {

// 0: not changed (no console, or not yet).
UINT found_input = 0;
UINT found_output = 0;

const UINT TEXT_CODE_PAGE = 850;

// Ctrl+C, Ctrl+Break, a closing window, log-off: the code pages go back, and
// the event goes on to the next handler, which ends the process as before.
BOOL WINAPI on_console_event(DWORD) {
  console_restore_code_pages();
  return FALSE;
}

// Last of the job's handlers: the others have cleaned up, and the default end
// would give the exit code 0 under Wine.
BOOL WINAPI end_unattended_run(DWORD) {
  console_restore_code_pages();
  ExitProcess(STATUS_CONTROL_C_EXIT);
  return TRUE;
}

void restore_at_exit(void) {
  console_restore_code_pages();
}

}  // namespace

void console_use_code_page_850(void) {
  static bool done = false;
  if (done) return;
  done = true;
  UINT input = GetConsoleCP();
  UINT output = GetConsoleOutputCP();
  if (input == 0 || output == 0) return;  // no console
  // Registered first, so it runs last: after every farewell text.
  atexit(restore_at_exit);
  SetConsoleCtrlHandler(on_console_event, TRUE);
  found_input = input;
  found_output = output;
  SetConsoleCP(TEXT_CODE_PAGE);
  SetConsoleOutputCP(TEXT_CODE_PAGE);
}

void console_restore_code_pages(void) {
  if (found_input != 0) SetConsoleCP(found_input);
  if (found_output != 0) SetConsoleOutputCP(found_output);
}

// The console's text needs nothing: it shows text as it comes.
void unattended_run_begin(void) {
  static bool done = false;
  if (!done) SetConsoleCtrlHandler(end_unattended_run, TRUE);
  done = true;
}
