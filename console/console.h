// tarvel's console: colours, cursor, cells, and a keyboard that turns every key
// press into one key code.
#pragma once

#include "platform/platform.h"

// Key codes: 1..255 a character (Enter 13, ESC 27, Backspace 8, Ctrl+A 1 ...);
// 0x400000 + modifiers * 0x100 + virtual-key code for a key without one;
// -1 for no key (poll_key only).
#define KEY_NONE (-1)
#define KEY_CTRL_A 1
#define KEY_CTRL_D 4
#define KEY_CTRL_E 5
#define KEY_CTRL_F 6
#define KEY_CTRL_G 7
#define KEY_BACKSPACE 8
#define KEY_TAB 9
#define KEY_ENTER 13
#define KEY_CTRL_S 19
#define KEY_CTRL_V 22
#define KEY_CTRL_X 24
#define KEY_ESC 27
#define KEY_EXTENDED 0x400000
#define KEY_PAGE_UP 0x400021
#define KEY_PAGE_DOWN 0x400022
#define KEY_END 0x400023
#define KEY_HOME 0x400024
#define KEY_LEFT 0x400025
#define KEY_UP 0x400026
#define KEY_RIGHT 0x400027
#define KEY_DOWN 0x400028
#define KEY_INSERT 0x40002D
#define KEY_DELETE 0x40002E
#define KEY_F1 0x400070
#define KEY_F2 0x400071

// Modifier bits in the key code (times 0x100).
#define KEY_MOD_RIGHT_ALT 0x01
#define KEY_MOD_LEFT_ALT 0x02
#define KEY_MOD_CTRL 0x04
#define KEY_MOD_SHIFT 0x10

// Colours (character attributes).
#define ATTR_SCREEN 0x1E  // bright yellow on blue
#define ATTR_FIELD 0x5E   // bright yellow on magenta

extern HANDLE console_input;  // null until console_setup ran
extern HANDLE console_output;

// Takes the standard handles and sets the modes; does nothing when called again.
// window: optional rectangle for the buffer and window size (in and out).
void console_setup(SMALL_RECT *window);
// Instead of console_setup, for a job that reads no key and draws no screen:
// takes no handle, changes no mode of the console or the terminal (so that
// the job runs in the background, and Ctrl+C, Ctrl+\ and a closed terminal
// end it by their signals, Ctrl+C and Ctrl+Break on Windows by their
// events); keys are ignored (console_keys_ignored) and text is printed as
// plain lines.
void console_setup_unattended(void);
// Blanks the whole screen buffer in attribute, makes it the current text
// attribute, cursor to row 0, column 0.
void clear_screen(int attribute);
void move_cursor(int row, int column);
// Writes text at the position in attribute, which stays the current attribute.
void write_at(int row, int column, int attribute, const char *text);
// Moves the cursor to the cell and returns its attribute.
int read_attribute(int row, int column);
// The next key press, or -1 when there is none; never waits.
int poll_key(void);
// 1 when a key press is there (read ahead into the held key), else 0.
int key_waiting(void);
// The next key press, waiting as long as it takes.
int wait_key(void);
// Set for a job started from the command line: no key is read, key_waiting
// reports none and wait_key answers ESC at once.
extern int console_keys_ignored;
