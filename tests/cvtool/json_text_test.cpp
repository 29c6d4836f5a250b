// The JSON strings of outside bytes: every escape, UTF-8 kept as characters,
// other bytes as Latin-1, and nothing but ASCII out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cvtool/json_text.h"

namespace {

struct EscapeCase {
  const char *what;
  const char *text;
  const char *json;
};

const std::vector<EscapeCase> escape_cases = {
    {"plain", "cvs.txt", "\"cvs.txt\""},
    {"empty", "", "\"\""},
    {"quote", "a\"b", "\"a\\\"b\""},
    {"backslash", "C:\\cvs\\a.txt", "\"C:\\\\cvs\\\\a.txt\""},
    {"slash stays", "sim:/tmp/r", "\"sim:/tmp/r\""},
    {"short forms", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
    {"other controls", "\x01\x1b\x1f", "\"\\u0001\\u001b\\u001f\""},
    {"DEL", "a\x7f", "\"a\\u007f\""},
    {"umlaut in UTF-8", "M\xC3\xBCller \xC3\x84", "\"M\\u00fcller \\u00c4\""},
    {"three bytes", "\xE2\x82\xAC", "\"\\u20ac\""},
    {"above U+FFFF", "\xF0\x9F\x98\x80", "\"\\ud83d\\ude00\""},
    {"Latin-1 byte", "M\xFCller", "\"M\\u00fcller\""},
    {"cut UTF-8", "a\xC3", "\"a\\u00c3\""},
    {"lone continuation", "\x80z", "\"\\u0080z\""},
    {"over-long form", "\xC0\xAF", "\"\\u00c0\\u00af\""},
    {"surrogate in UTF-8", "\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
    {"code page 850 umlaut", "\x84", "\"\\u0084\""},
};

TEST(JsonText, EscapesEveryKindOfByte) {
  for (const EscapeCase &c : escape_cases) {
    SCOPED_TRACE(c.what);
    std::string json = json_string(c.text);
    EXPECT_EQ(json, c.json);
    for (char byte : json) EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << json;
  }
}

TEST(JsonText, NoTextIsNull) {
  EXPECT_EQ(json_string(nullptr), "null");
}

}  // namespace
