// The entry field editor: edits a text buffer in place in a coloured field that
// starts at the cursor.
#pragma once

// Edits buffer (at least length + 1 bytes, a NUL-terminated default on entry)
// in a field of length cells. kind chooses the accepted characters and the final
// alignment; attribute is the field's colour. When changed is given it receives
// 1 if the text was changed by typing or deleting. Returns the key code that
// ended the editing (Enter, Ctrl+E, Ctrl+X, ESC or an extended key code).
int edit_field(char *buffer, int length, int kind, int attribute, int *changed);

// Letters, digits and every byte from 0x80 up.
int is_word_char(int c);
