// Code page 850, the console's code page: the programs keep their texts in it,
// the terminal speaks UTF-8.
#pragma once

#include <cstdint>

// Writes the UTF-8 form of the code page 850 byte into out (room for 3 bytes)
// and returns its length. With glyph_controls the control bytes 0x00..0x1F and
// 0x7F become the pictures a console shows for them; otherwise they stay as
// they are.
int cp850_to_utf8(unsigned char byte, bool glyph_controls, char *out);

// The code page 850 byte for a Unicode code point, or -1 when it has none.
int cp850_from_unicode(uint32_t code_point);
