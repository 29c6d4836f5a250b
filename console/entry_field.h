// The entry field editor: edits a text buffer in place in a coloured field that
// starts at the cursor.
#pragma once

// Edits buffer (at least length + 1 bytes, a NUL-terminated default on entry)
// in a field of length cells. kind chooses the accepted characters and the final
// alignment; attribute is the field's colour. When changed is given it receives
// 1 if the text was changed by typing or deleting. Returns the key code that
// ended the editing (Enter, Ctrl+E, Ctrl+X, ESC or an extended key code).
int edit_field(char *buffer, int length, int kind, int attribute, int *changed);

// The kind of a binary field: only 0, 1 and the blank between the groups, the
// keys that mean something there; any other key would be skipped when the
// text is read as binary, and a typed decimal number would become 0. Text on
// return as kind 4.
#define FIELD_KIND_BINARY 100

// Letters, digits and every byte from 0x80 up.
int is_word_char(int c);
