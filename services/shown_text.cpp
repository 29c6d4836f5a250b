// Text from outside, made fit to print (see shown_text.h).
#include "services/shown_text.h"

#include <cstdint>
#include <cstring>

#include "platform/code_page_850.h"

namespace {

void append_unicode(std::string *out, uint32_t code_point) {
  char utf8[4];
  out->append(utf8, (size_t)unicode_to_utf8(code_point, utf8));
}

void append_glyph(std::string *out, unsigned char byte) {
  append_unicode(out, cp850_to_unicode(byte, true));
}

// Appends what the character at the start of bytes is shown as; returns how
// many bytes it took.
size_t append_shown(std::string *out, const unsigned char *bytes, size_t length) {
  uint32_t code_point = 0;
  size_t used = bytes[0] >= 0x80 ? utf8_character_length(bytes, length, &code_point) : 0;
  if (used == 2 && code_point < 0xA0) {
    append_glyph(out, bytes[0]);
    append_glyph(out, bytes[1]);
  } else if (used > 0) {
    out->append((const char *)bytes, used);
  } else if (bytes[0] < 0x20 || bytes[0] == 0x7F) {
    append_glyph(out, bytes[0]);
    used = 1;
  } else {
    out->push_back((char)bytes[0]);
    used = 1;
  }
  return used;
}

std::string shown_part(const char *text, size_t length) {
  std::string out;
  out.reserve(length);
  const unsigned char *bytes = (const unsigned char *)text;
  for (size_t i = 0; i < length;) i += append_shown(&out, bytes + i, length - i);
  return out;
}

}  // namespace

std::string shown_text(const char *text) {
  return shown_part(text, strlen(text));
}

std::string shown_message(const char *text) {
  size_t length = strlen(text);
  size_t line_end = length > 0 && text[length - 1] == '\n' ? 1 : 0;
  if (line_end == 1 && length > 1 && text[length - 2] == '\r') line_end = 2;
  return shown_part(text, length - line_end) + (text + length - line_end);
}
