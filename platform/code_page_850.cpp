// Code page 850 to Unicode and back.
#include "platform/code_page_850.h"

namespace {

// Unicode of the bytes 0x80..0xFF.
const uint16_t upper_half[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

// What a console shows for the control bytes when it prints them as characters.
const uint16_t control_glyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 0x00
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // 0x08
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 0x10
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 0x18
};

}  // namespace

int unicode_to_utf8(uint32_t code_point, char *out) {
  if (code_point < 0x80) {
    out[0] = (char)code_point;
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = (char)(0xC0 | (code_point >> 6));
    out[1] = (char)(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = (char)(0xE0 | (code_point >> 12));
    out[1] = (char)(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = (char)(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = (char)(0xF0 | (code_point >> 18));
  out[1] = (char)(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = (char)(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = (char)(0x80 | (code_point & 0x3F));
  return 4;
}

uint32_t cp850_to_unicode(unsigned char byte, bool glyph_controls) {
  if (byte >= 0x80) return upper_half[byte - 0x80];
  if (glyph_controls && byte < 0x20) return control_glyphs[byte];
  if (glyph_controls && byte == 0x7F) return 0x2302;
  return byte;
}

int cp850_to_utf8(unsigned char byte, bool glyph_controls, char *out) {
  return unicode_to_utf8(cp850_to_unicode(byte, glyph_controls), out);
}

int cp850_from_unicode(uint32_t code_point) {
  if (code_point < 0x80) return (int)code_point;
  for (int i = 0; i < 128; i++) {
    if (upper_half[i] == code_point) return 0x80 + i;
  }
  return -1;
}

size_t utf8_character_length(const unsigned char *text, size_t length, uint32_t *code_point) {
  if (length < 2) return 0;
  unsigned char lead = text[0];
  size_t need;
  // The lowest and highest second byte: no over-long forms, no surrogates,
  // nothing above U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (length < need || text[1] < low || text[1] > high) return 0;
  uint32_t value = lead & (0x7F >> need);
  for (size_t i = 1; i < need; i++) {
    if ((text[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (text[i] & 0x3F);
  }
  *code_point = value;
  return need;
}

size_t utf8_passing_length(const unsigned char *text, size_t length, uint32_t *code_point) {
  uint32_t found = 0;
  size_t used = utf8_character_length(text, length, &found);
  if (used == 0 || found < 0xA0) return 0;
  *code_point = found;
  return used;
}

int unicode_cell_width(uint32_t c) {
  struct range {
    uint32_t first, last;
  };
  static const range combining[] = {
      {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
      {0x064B, 0x065F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
      {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
  };
  static const range wide[] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
      {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
  };
  for (const range &r : combining) {
    if (c >= r.first && c <= r.last) return 0;
  }
  for (const range &r : wide) {
    if (c >= r.first && c <= r.last) return 2;
  }
  return 1;
}

std::string passing_utf8_text(const char *text, size_t length) {
  std::string out;
  out.reserve(length + length / 2);
  const unsigned char *bytes = (const unsigned char *)text;
  for (size_t i = 0; i < length;) {
    uint32_t code_point;
    size_t used = bytes[i] >= 0x80 ? utf8_passing_length(bytes + i, length - i, &code_point) : 0;
    if (used > 0) {
      out.append(text + i, used);
      i += used;
      continue;
    }
    char utf8[3];
    out.append(utf8, (size_t)cp850_to_utf8(bytes[i], false, utf8));
    i++;
  }
  return out;
}
