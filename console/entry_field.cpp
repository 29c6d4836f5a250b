// The entry field editor: one call edits a caller's buffer in a coloured field
// that starts where the prompt left the cursor, and returns the key that ended it.
#include "console/entry_field.h"

#include <cstring>

#include "console/console.h"

// The working state of one call; nothing of it outlives the call.
struct FieldEdit {
  char *text;
  int length;
  int kind;
  int position;  // 0..length; the cursor stands at start column + position
  int insert_mode;
  int fresh;  // the first accepted character replaces the whole default
  int changed;
};

int is_word_char(int c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= 0x80 && c <= 0xFF);
}

// ---------------------------------------------------------------- field kinds

static int kind_accepts(int kind, int c) {
  if (kind == FIELD_KIND_BINARY) return c == '0' || c == '1' || c == ' ';
  if (kind <= 2) return c >= 32 && c <= 255;
  if (c >= '0' && c <= '9') return 1;
  if (kind == 3 || kind == 5) return c == '-';
  if (kind >= 9) return c == '-' || c == '.';
  return 0;
}

static int kind_right_aligned(int kind) {
  return kind == 1 || kind == 2 || kind == 7 || kind == 8;
}

static int kind_zero_filled(int kind) {
  return kind == 2 || kind == 7 || kind == 8;
}

// ---------------------------------------------------------------- editing operations

static char cell(const FieldEdit *f, int index) {
  return f->text[index];
}

static void delete_at(FieldEdit *f, int p) {
  if (p >= f->length) return;
  memmove(f->text + p, f->text + p + 1, (size_t)(f->length - 1 - p));
  f->text[f->length - 1] = ' ';
  f->changed = 1;
}

static void word_right(FieldEdit *f) {
  if (f->position < f->length) f->position++;
  while (f->position < f->length && is_word_char((unsigned char)cell(f, f->position)))
    f->position++;
}

static void word_left(FieldEdit *f) {
  if (f->position > 0) f->position--;
  while (f->position > 0 && is_word_char((unsigned char)cell(f, f->position))) f->position--;
}

// Behind the last non-blank character, but on the last cell of a full field and
// never before index 1.
static void end_position(FieldEdit *f) {
  f->position = f->length - 1;
  while (f->position > 1 && cell(f, f->position - 1) == ' ') f->position--;
  if (f->position < 0) f->position = 0;
}

// A full block stands for insert, a thin line for overwrite.
static void toggle_insert(FieldEdit *f) {
  CONSOLE_CURSOR_INFO shape;
  f->insert_mode = !f->insert_mode;
  shape.dwSize = f->insert_mode ? 100 : 1;
  shape.bVisible = TRUE;
  SetConsoleCursorInfo(console_output, &shape);
}

static void enter_char(FieldEdit *f, int c) {
  if (f->position >= f->length || !kind_accepts(f->kind, c)) return;
  if (f->fresh) memset(f->text, ' ', (size_t)f->length);
  if (f->insert_mode)  // the last cell's character falls off the end
    memmove(f->text + f->position + 1, f->text + f->position,
            (size_t)(f->length - 1 - f->position));
  f->text[f->position++] = (char)c;
  f->changed = 1;
  f->fresh = 0;
}

// ---------------------------------------------------------------- keys

// Cursor and editing keys; returns 1 when the key ends the fresh state.
static int edit_key(FieldEdit *f, int key) {
  switch (key) {
    case KEY_BACKSPACE:
      if (f->position == 0) return 0;
      f->position--;
      delete_at(f, f->position);
      return 1;
    case KEY_DELETE:
    case KEY_CTRL_G:
      delete_at(f, f->position);
      return 1;
    case KEY_LEFT:
    case KEY_CTRL_S:
      if (f->position > 0) f->position--;
      return 0;
    case KEY_RIGHT:
    case KEY_CTRL_D:
      if (f->position < f->length) f->position++;
      return 1;
    case KEY_CTRL_A:
      word_left(f);
      return 0;
    case KEY_CTRL_F:
      word_right(f);
      return 1;
    case KEY_HOME:
      f->position = 0;
      return 1;
    case KEY_END:
      end_position(f);
      return 1;
    case KEY_INSERT:
    case KEY_CTRL_V:
      toggle_insert(f);
      return 1;
  }
  if (key >= 32 && key <= 255) enter_char(f, key);
  return 0;  // character entry ends the fresh state itself; other control keys are ignored
}

static int is_edit_key(int key) {
  return key < 256 || key == KEY_DELETE || key == KEY_LEFT || key == KEY_RIGHT || key == KEY_HOME ||
         key == KEY_END || key == KEY_INSERT;
}

// Returns 1 when the key ends the editing.
static int handle_key(FieldEdit *f, int key) {
  if (key == KEY_ENTER || key == KEY_CTRL_E || key == KEY_CTRL_X || key == KEY_ESC) return 1;
  if (!is_edit_key(key)) return key > 256;
  if (edit_key(f, key)) f->fresh = 0;
  return 0;
}

// ---------------------------------------------------------------- finish

static void finish_text(FieldEdit *f) {
  int m = f->length;
  while (m > 0 && f->text[m - 1] == ' ') f->text[--m] = '\0';
  if (!kind_right_aligned(f->kind)) return;
  memmove(f->text + f->length - m, f->text, (size_t)m);
  memset(f->text, ' ', (size_t)(f->length - m));
  f->text[f->length] = '\0';
  if (!kind_zero_filled(f->kind)) return;
  for (int i = 0; i < f->length; i++)
    if (f->text[i] == ' ') f->text[i] = '0';
}

// Pads a shorter default with blanks and cuts a longer one to length.
static void prepare_text(char *buffer, int length) {
  size_t have = strlen(buffer);
  if (have < (size_t)length) memset(buffer + have, ' ', (size_t)length - have);
  buffer[length] = '\0';
}

int edit_field(char *buffer, int length, int kind, int attribute, int *changed) {
  CONSOLE_CURSOR_INFO saved_shape;
  CONSOLE_SCREEN_BUFFER_INFO info;
  GetConsoleCursorInfo(console_output, &saved_shape);
  GetConsoleScreenBufferInfo(console_output, &info);
  int row = info.dwCursorPosition.Y, column = info.dwCursorPosition.X;
  int saved_attribute = read_attribute(row, column);
  if (length < 0) length = 0;
  prepare_text(buffer, length);
  FieldEdit f = {buffer, length, kind, 0, 0, 1, 0};
  int key;
  for (;;) {
    write_at(row, column, attribute, buffer);
    move_cursor(row, column + f.position);
    key = wait_key();
    if (handle_key(&f, key)) break;
  }
  finish_text(&f);
  write_at(row, column, saved_attribute, buffer);
  if (changed) *changed = f.changed;
  SetConsoleCursorInfo(console_output, &saved_shape);
  return key;
}
