// The console screen as the programs see it: a buffer of cells (a code page
// 850 character and an attribute each), the cursor, the current text attribute
// and the wrap mode. The console calls and everything printed to standard
// output and standard error change it through these operations, so the cursor
// after a prompt and the colour of a cell can be read back. Each operation
// appends to *out what the terminal needs to show the change: ANSI/xterm
// sequences and UTF-8 text on a terminal, the text alone (UTF-8) otherwise.
//
// The model keeps no lock: callers hold screen_lock() around an operation and
// the write of its output, so the terminal sees the changes in model order.
#pragma once

#include <string>

#include "platform/posix/win32_stand_in.h"

// A fresh screen: blanks in attribute 0x07, cursor at 0,0, wrap on. With
// terminal non-zero the output is for a terminal, otherwise text alone.
void screen_reset(int width, int height, int terminal);
// The first use sets the model up for standard output: a terminal's own size,
// or 80 x 25 text alone when standard output is no terminal.
void screen_ensure(void);
void screen_lock(void);
void screen_unlock(void);

// Text as processed console output: CR, LF, BS, TAB and BEL act on the cursor,
// a well-formed UTF-8 sequence is one character that goes out unchanged
// (unless it is a C1 control, which the terminal would obey), and every other
// byte is a code page 850 character, all in the current attribute.
void screen_write(const char *text, size_t length, std::string *out);
// Fill count cells from column x, row y on, row by row; return the count done.
size_t screen_fill_character(int x, int y, size_t count, char character, std::string *out);
size_t screen_fill_attribute(int x, int y, size_t count, WORD attribute, std::string *out);
void screen_set_attribute(WORD attribute);
// Returns -1 (and changes nothing) for a position outside the buffer.
int screen_set_cursor(int x, int y, std::string *out);
void screen_set_wrap(int on);
// Cursor size 50 and above is a block, below a thin line; the size a fresh
// console has is the terminal's own shape, untouched until another is set.
void screen_set_cursor_shape(DWORD size, int visible, std::string *out);
// The terminal shows a cursor shape of the program's: put it back at the end.
int screen_cursor_shape_shown(void);
// Draws every cell, the cursor and its shape again.
void screen_redraw(std::string *out);
// Takes what happened to the terminal (platform/posix/terminal_posix.h): a
// new window size resizes the model; after a stop or a resize a drawn screen
// is drawn again. Call with the lock held before an operation.
void screen_follow_terminal(std::string *out);
// A new buffer size; the cells that fit keep their contents.
void screen_resize(int width, int height);

int screen_width(void);
int screen_height(void);
int screen_cursor_x(void);
int screen_cursor_y(void);
WORD screen_attribute(void);
int screen_is_terminal(void);
DWORD screen_cursor_size(void);
int screen_cursor_visible(void);
char screen_character_at(int x, int y);
WORD screen_attribute_at(int x, int y);

// The ANSI colour sequence for a console attribute (0x07 is the terminal's own colours).
std::string screen_colour_sequence(WORD attribute);
