// Code page 850, the console's code page: the programs keep their texts in it,
// the terminal speaks UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the UTF-8 form of the code page 850 byte into out (room for 3 bytes)
// and returns its length. With glyph_controls the control bytes 0x00..0x1F and
// 0x7F become the pictures a console shows for them; otherwise they stay as
// they are.
int cp850_to_utf8(unsigned char byte, bool glyph_controls, char *out);
// The code point of the code page 850 byte; with glyph_controls the control
// bytes become their pictures, as in cp850_to_utf8.
uint32_t cp850_to_unicode(unsigned char byte, bool glyph_controls);

// Writes the UTF-8 form of a code point into out (room for 4 bytes) and
// returns its length.
int unicode_to_utf8(uint32_t code_point, char *out);

// The code page 850 byte for a Unicode code point, or -1 when it has none.
int cp850_from_unicode(uint32_t code_point);

// The length (2 to 4) of the well-formed UTF-8 character at the start of
// text, its code point in *code_point; 0 when the bytes there form none, and
// the first byte is then a code page 850 character. Texts of the programs'
// own never form one; names and file lines from a UTF-8 system do.
size_t utf8_character_length(const unsigned char *text, size_t length, uint32_t *code_point);
// As utf8_character_length, but 0 also for a C1 control (U+0080..U+009F): a
// terminal would obey one, so its bytes are code page 850 characters too.
size_t utf8_passing_length(const unsigned char *text, size_t length, uint32_t *code_point);

// The text as a UTF-8 terminal takes it plainly: UTF-8 that came as such (a
// name, a line of a file) stays, unless it is a C1 control; every other byte
// is code page 850, controls included as they are.
std::string passing_utf8_text(const char *text, size_t length);

// How many cells a terminal gives the code point: 0 for a combining mark, 2
// for the wide characters of East Asian scripts and emoji, 1 otherwise.
int unicode_cell_width(uint32_t code_point);
