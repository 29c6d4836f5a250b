// tarvel's command menu: one key, one command, back to the menu.
#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "cvtool/cvtool.h"
#include "link/receiver_protocol.h"
#include "platform/platform.h"

namespace {

// The third line lacks its closing parenthesis; it has always been printed so.
const char menu[] =
    "\nKommandos: e .. einzelne CV lesen/programmieren\n"
    "           p .. programmieren (Datei -> CVs)\n"
    "           a .. auslesen (CVs -> Datei\n"
    "           q oder ESC .. Beenden";

void run_command(int key) {
  switch (key) {
    case 'e':
      single_cv_dialogue();
      break;
    case 'a':
      read_out_cvs();
      break;
    case 'p':
      program_cvs();
      break;
    default:
      break;
  }
}

}  // namespace

void command_loop(void) {
  for (;;) {
    // A data file that the last command left open is closed here.
    _fcloseall();
    printf("%s", menu);
    fflush(stdout);
    int key = wait_key();
    if (key == 'q' || key == KEY_ESC) {
      quit_receiver();
      exit(0);
    }
    clear_screen(ATTR_SCREEN);
    move_cursor(0, 0);
    run_command(key);
  }
}
