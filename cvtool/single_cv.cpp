// The `e` command: pick a CV by number, read it or program it, and go on with
// the next one, so that a run of CVs can be read with the Enter key alone.
#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "console/entry_field.h"
#include "cvtool/binary_text.h"
#include "cvtool/cvtool.h"
#include "cvtool/line_ready.h"
#include "cvtool/jobs.h"
#include "link/receiver_protocol.h"

#define ENTRY_SIZE 10  // nine characters of binary text and a NUL
#define ALTERNATIVE_OFFSET 1000

// Prompts end without a line feed; the field must find them on the console.
static int edit_entry(const char *prompt, char *entry, int length, int kind) {
  fputs(prompt, stdout);
  fflush(stdout);
  return edit_field(entry, length, kind, ATTR_FIELD, NULL);
}

// Number prompt: sets the selection from the typed number. Returns -1 when the
// dialogue ends (ESC or an invalid number), else 0.
static int select_cv(void) {
  char entry[ENTRY_SIZE];
  snprintf(entry, sizeof entry, "%d", next_cv_entry);
  if (edit_entry("\n\nCV-Nummer eingeben (1..256, Alternative CVs 1001..1256): ", entry, 4, 4) ==
      KEY_ESC)
    return -1;
  next_cv_entry = atoi(entry);
  if (next_cv_entry >= ALTERNATIVE_OFFSET + 1 && next_cv_entry <= ALTERNATIVE_OFFSET + 256) {
    cv_selection.bank = 1;
    cv_selection.number = next_cv_entry - ALTERNATIVE_OFFSET;
  } else if (next_cv_entry >= 1 && next_cv_entry <= 256) {
    cv_selection.bank = 0;
    cv_selection.number = next_cv_entry;
  } else {
    printf(
        "ung"
        "\x81"
        "ltige CV!\n");
    cv_selection.number = 1;
    next_cv_entry = 1;
    return -1;
  }
  return 0;
}

// After a good read the next CV of the same bank is offered, wrapping round.
static void advance_next_cv(void) {
  next_cv_entry++;
  if (next_cv_entry == 257) next_cv_entry = 1;
  if (next_cv_entry == ALTERNATIVE_OFFSET + 257) next_cv_entry = ALTERNATIVE_OFFSET + 1;
}

static void read_selected_cv(void) {
  char binary[BINARY_TEXT_SIZE];
  printf("\nCV Nr %d auslesen... ", cv_selection.number);
  fflush(stdout);
  if (line_ready() != 0) {
    cv_selection.value = -1;
  } else {
    read_cv();
  }
  if (cv_selection.value < 0) {
    printf("\nCV %d Lesefehler!\n", cv_selection.number);
    return;
  }
  binary_text(cv_selection.value, binary);
  printf(cv_selection.bank ? "\nCV  %3da = %d (%s)\n" : "\nCV  %3d  = %d (%s)\n",
         cv_selection.number, cv_selection.value, binary);
  advance_next_cv();
}

// One value prompt in the current entry mode; returns the key that ended it.
static int edit_value(void) {
  char entry[ENTRY_SIZE];
  int key;
  if (binary_entry_mode) {
    binary_text(cv_selection.value, entry);
    key = edit_entry("\nneuer Wert: (F2->Dezimaleingabe) ", entry, 9, FIELD_KIND_BINARY);
  } else {
    snprintf(entry, sizeof entry, "%d", cv_selection.value);
    key = edit_entry(
        "\nneuer Wert: (F1->Bin"
        "\x84"
        "reingabe) ",
        entry, 3, 4);
  }
  if (key != KEY_ESC) cv_selection.value = binary_entry_mode ? binary_parse(entry) : atoi(entry);
  return key;
}

// Asks for the new value and writes it. Returns -1 when the user leaves with ESC.
static int program_selected_cv(void) {
  for (;;) {
    if (cv_selection.value < 0 || cv_selection.value > 255) cv_selection.value = 0;
    int key = edit_value();
    if (key == KEY_ESC) return -1;
    if (key == KEY_F1 || key == KEY_F2) {  // offer the value just typed in the other form
      binary_entry_mode = key == KEY_F1;
      continue;
    }
    if (cv_selection.value >= 0 && cv_selection.value <= 255) {
      write_selected_cv(1);
      return 0;
    }
    printf(
        "ung"
        "\x81"
        "ltiger Wert (muss zwischen 0 und 255 liegen!)");
    cv_selection.value = 0;
  }
}

void single_cv_dialogue(void) {
  for (;;) {
    if (select_cv() != 0) return;
    printf("\nl..esen oder p..rogrammieren ");
    fflush(stdout);
    int key = wait_key();
    if (key == 'l' || key == KEY_ENTER) {
      read_selected_cv();
    } else if (key == 'p') {
      if (program_selected_cv() != 0) return;
    } else {
      return;
    }
  }
}
