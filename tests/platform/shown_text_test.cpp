// Outside text made fit to print, on both builds: every control becomes a
// glyph, everything else stays byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "platform/code_page_850.h"
#include "services/shown_text.h"

namespace {

struct Row {
  const char *what;
  const char *text;
  const char *shown;
};

TEST(ShownText, ControlsBecomeGlyphsAndEverythingElseStays) {
  const Row rows[] = {
      {"plain name", "cvs.txt", "cvs.txt"},
      {"data file line", "CV 6 = 300 (b0000 0110)", "CV 6 = 300 (b0000 0110)"},
      {"code page 850 letters", "Empf\x84nger \x81 \x94", "Empf\x84nger \x81 \x94"},
      {"Latin-1 bytes", "L\xf6schen ung\xfcltig", "L\xf6schen ung\xfcltig"},
      {"UTF-8 letters", "M\xc3\xa4use.txt", "M\xc3\xa4use.txt"},
      {"UTF-8 wide and 4-byte", "\xe6\xbc\xa2 \xf0\x9f\x98\x80", "\xe6\xbc\xa2 \xf0\x9f\x98\x80"},
      {"no-break space, the first after C1",
       "a\xc2\xa0"
       "b",
       "a\xc2\xa0"
       "b"},
      {"BEL", "SER\a", "SER•"},
      {"BS", "SER\a\b\b\bXYZ", "SER•◘◘◘XYZ"},
      {"TAB", "CV\t6", "CV○6"},
      {"LF inside", "a\nb", "a◙b"},
      {"CR inside a name", "da\rten.txt", "da♪ten.txt"},
      {"ESC", "\x1b]0;Titel\a", "←]0;Titel•"},
      {"other C0", "\x01\x1f", "☺▼"},
      {"DEL", "a\x7f", "a⌂"},
      {"CSI as UTF-8",
       "300 \xc2\x9b"
       "8m",
       "300 ┬ø8m"},
      {"OSC as UTF-8",
       "\xc2\x9d"
       "0;x",
       "┬Ø0;x"},
      {"ST as UTF-8", "x\xc2\x9c", "x┬£"},
      {"first C1", "\xc2\x80", "┬Ç"},
      {"raw CSI byte: a code page 850 letter",
       "a\x9b"
       "8m",
       "a\x9b"
       "8m"},
      {"lone lead byte", "a\xc2", "a\xc2"},
      {"lead byte before a control", "\xc2\x1b", "\xc2←"},
      {"empty", "", ""},
  };
  for (const Row &row : rows) EXPECT_EQ(shown_text(row.text), row.shown) << row.what;
}

TEST(ShownText, AMessageKeepsItsOwnLineEndOnly) {
  const Row rows[] = {
      {"CR LF", "Zugriff verweigert.\r\n", "Zugriff verweigert.\r\n"},
      {"LF", "Access denied.\n", "Access denied.\n"},
      {"none", "Access denied.", "Access denied."},
      {"lone CR at the end", "x\r", "x♪"},
      {"line end inside", "a\r\nb\n", "a♪◙b\n"},
      {"only a line end", "\r\n", "\r\n"},
      {"BEL before the line end", "a\a\r\n", "a•\r\n"},
  };
  for (const Row &row : rows) EXPECT_EQ(shown_message(row.text), row.shown) << row.what;
}

// Whatever bytes come: nothing a terminal could act on leaves, neither as a
// byte nor as a UTF-8 character, and a text without controls comes back as it was.
TEST(ShownText, NoRandomTextKeepsAControl) {
  std::mt19937 random(21);
  for (int round = 0; round < 20000; round++) {
    std::string text(1 + random() % 12, ' ');
    for (char &c : text) c = (char)(1 + random() % 255);
    std::string shown = shown_text(text.c_str());
    const unsigned char *bytes = (const unsigned char *)shown.data();
    bool had_control = false;
    for (size_t i = 0; i < shown.size(); i++) {
      ASSERT_FALSE(bytes[i] < 0x20 || bytes[i] == 0x7F) << "byte " << i << " of " << shown;
      uint32_t code_point = 0;
      if (utf8_character_length(bytes + i, shown.size() - i, &code_point) == 2) {
        ASSERT_GE(code_point, 0xA0u) << "a C1 control in " << shown;
      }
    }
    for (size_t i = 0; i < text.size(); i++) {
      uint32_t code_point = 0;
      const unsigned char *in = (const unsigned char *)text.data() + i;
      if (*in < 0x20 || *in == 0x7F ||
          (utf8_character_length(in, text.size() - i, &code_point) == 2 && code_point < 0xA0)) {
        had_control = true;
      }
    }
    if (!had_control) {
      ASSERT_EQ(shown, text);
    }
  }
}

}  // namespace
