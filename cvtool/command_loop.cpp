// tarvel's command menu: one key, one command, back to the menu.
#include <cstdio>

#include "console/console.h"
#include "cvtool/cvtool.h"
#include "link/receiver_protocol.h"
#include "link/serial_port.h"
#include "platform/platform.h"

namespace {

const int QUIT_FAILED_PAUSE_MS = 3000;

// The third line lacks its closing parenthesis; it has always been printed so.
const char menu[] =
    "\nKommandos: e .. einzelne CV lesen/programmieren\n"
    "           p .. programmieren (Datei -> CVs)\n"
    "           a .. auslesen (CVs -> Datei\n"
    "           q oder ESC .. Beenden";

// Returns KEEP_RUNNING, or the exit code of a command that ends the run.
int run_command(int key) {
  switch (key) {
    case 'e':
      single_cv_dialogue();
      return KEEP_RUNNING;
    case 'a':
      return read_out_cvs();
    case 'p':
      return program_cvs();
    default:
      return KEEP_RUNNING;
  }
}

}  // namespace

int quit_and_check(void) {
  unsigned failed_before = failed_writes;
  quit_receiver();
  unsigned lost = failed_writes - failed_before;
  if (lost == 0) return 0;
  printf("\nSchreibfehler: %u Bytes nicht gesendet, Empf\x84nger nicht freigegeben\n", lost);
  fflush(stdout);
  return JOB_PORT_FAILED;
}

int command_loop(void) {
  for (;;) {
    // A data file that the last command left open is closed here.
    _fcloseall();
    printf("%s", menu);
    fflush(stdout);
    int key = wait_key();
    if (key == 'q' || key == KEY_ESC) {
      if (quit_and_check() == 0) return EXIT_QUIT;
      // A window that closes at the exit would hide the message.
      Sleep(QUIT_FAILED_PAUSE_MS);
      return EXIT_QUIT_FAILED;
    }
    clear_screen(ATTR_SCREEN);
    move_cursor(0, 0);
    int code = run_command(key);
    if (code != KEEP_RUNNING) return code;
  }
}
