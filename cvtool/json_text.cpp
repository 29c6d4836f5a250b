// JSON strings from outside bytes (see json_text.h).
#include "cvtool/json_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/code_page_850.h"

namespace {

// unit is one UTF-16 unit: 16 bits, four hex digits.
void append_escape(std::string *out, uint32_t unit) {
  char text[8];
  snprintf(text, sizeof text, "\\u%04x", (unsigned)(unit & 0xFFFF));
  *out += text;
}

void append_code_point(std::string *out, uint32_t code_point) {
  if (code_point < 0x10000) {
    append_escape(out, code_point);
    return;
  }
  code_point -= 0x10000;
  append_escape(out, 0xD800 + (code_point >> 10));
  append_escape(out, 0xDC00 + (code_point & 0x3FF));
}

// An ASCII byte; 0 when it has a short form or an escape of its own.
const char *short_form(unsigned char byte) {
  switch (byte) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

// Appends the character at text[0]; returns how many bytes it took.
size_t append_character(std::string *out, const unsigned char *text, size_t length) {
  unsigned char byte = text[0];
  if (short_form(byte) != nullptr) {
    *out += short_form(byte);
  } else if (byte < 0x20 || byte == 0x7F) {
    append_escape(out, byte);
  } else if (byte < 0x80) {
    *out += (char)byte;
  } else {
    uint32_t code_point = 0;
    size_t used = utf8_character_length(text, length, &code_point);
    if (used == 0) code_point = byte;  // no UTF-8 here: the byte as Latin-1
    append_code_point(out, code_point);
    return used == 0 ? 1 : used;
  }
  return 1;
}

}  // namespace

std::string json_string(const char *text) {
  if (text == nullptr) return "null";
  const unsigned char *bytes = (const unsigned char *)text;
  size_t length = strlen(text);
  std::string out = "\"";
  for (size_t at = 0; at < length;) at += append_character(&out, bytes + at, length - at);
  return out + "\"";
}
