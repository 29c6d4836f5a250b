// The key decoder on its own: how many bytes a key takes, when it must wait
// for more, and what it makes of characters.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/key_decoder.h"

namespace {

struct decode_case {
  const char *name;
  std::string bytes;
  int complete;
  size_t used;  // 0: wait for more bytes
  int present;
  WORD virtual_key;
  unsigned char character;
  DWORD control_state;
  int escape_joins = 0;  // from a terminal, the ESC in the same read as what follows
};

const DWORD ctrl = LEFT_CTRL_PRESSED;
const DWORD grey = ENHANCED_KEY;
const DWORD alt = LEFT_ALT_PRESSED;

const decode_case decode_cases[] = {
    {"lone ESC while more may come", "\x1b", 0, 0, 0, 0, 0, 0},
    {"lone ESC, nothing follows", "\x1b", 1, 1, 1, VK_ESCAPE, 27, 0},
    {"unfinished CSI while more may come", "\x1b[1;5", 0, 0, 0, 0, 0, 0},
    {"unfinished CSI at the end is ESC", "\x1b[1;5", 1, 1, 1, VK_ESCAPE, 27, 0},
    {"unfinished SS3 while more may come", "\x1bO", 0, 0, 0, 0, 0, 0},
    {"ESC then a letter from a script is ESC", "\x1bx", 0, 1, 1, VK_ESCAPE, 27, 0},
    {"ESC then ESC is ESC", "\x1b\x1b[A", 0, 1, 1, VK_ESCAPE, 27, 0},
    {"ESC [ then a control byte is ESC", "\x1b[\r", 0, 1, 1, VK_ESCAPE, 27, 0},
    {"Ctrl+Left takes its six bytes", "\x1b[1;5Dx", 0, 6, 1, VK_LEFT, 0, ctrl | grey},
    {"Shift+F1", "\x1b[1;2P", 0, 6, 1, VK_F1, 0, SHIFT_PRESSED},
    {"Alt+F2", "\x1b[1;3Q", 0, 6, 1, VK_F2, 0, LEFT_ALT_PRESSED},
    {"Linux console F3", "\x1b[[C", 0, 4, 1, VK_F3, 0, 0},
    {"unknown number dropped whole", "\x1b[99~a", 0, 5, 0, 0, 0, 0},
    {"mouse report dropped whole", "\x1b[<0;3;4M", 0, 9, 0, 0, 0, 0},
    {"focus report dropped", "\x1b[I", 0, 3, 0, 0, 0, 0},
    {"a", "a", 0, 1, 1, 'A', 'a', 0},
    {"Ctrl+C", "\x03", 0, 1, 1, 'C', 3, ctrl},
    {"DEL is Backspace", "\x7f", 0, 1, 1, VK_BACK, 8, 0},
    {"LF alone is Enter", "\n", 0, 1, 1, VK_RETURN, 13, 0},
    {"UTF-8 a-umlaut", "\xc3\xa4", 0, 2, 1, 0, 0x84, 0},
    {"UTF-8 u-umlaut", "\xc3\xbc", 0, 2, 1, 0, 0x81, 0},
    {"UTF-8 o-umlaut", "\xc3\xb6", 0, 2, 1, 0, 0x94, 0},
    {"UTF-8 sharp s", "\xc3\x9f", 0, 2, 1, 0, 0xE1, 0},
    {"UTF-8 capital O-umlaut", "\xc3\x96", 0, 2, 1, 0, 0x99, 0},
    {"half a UTF-8 letter waits", "\xc3", 0, 0, 0, 0, 0, 0},
    {"half a UTF-8 letter at the end is its byte", "\xc3", 1, 1, 1, 0, 0xC3, 0},
    {"euro sign has no code page 850 byte", "\xe2\x82\xac", 0, 3, 0, 0, 0, 0},
    {"code page 850 byte in a script", "\x84x", 0, 1, 1, 0, 0x84, 0},
    // Alt+character: a terminal sends ESC and the character at once.
    {"Alt+e",
     "\x1b"
     "e",
     0, 2, 1, 'E', 'e', alt, 1},
    {"Alt+Shift+e",
     "\x1b"
     "E",
     0, 2, 1, 'E', 'E', SHIFT_PRESSED | alt, 1},
    {"Alt+q", "\x1bq", 0, 2, 1, 'Q', 'q', alt, 1},
    {"Alt+digit",
     "\x1b"
     "7",
     0, 2, 1, '7', '7', alt, 1},
    {"Alt+umlaut", "\x1b\xc3\xa4", 0, 3, 1, 0, 0x84, alt, 1},
    {"Alt+half an umlaut waits", "\x1b\xc3", 0, 0, 0, 0, 0, 0, 1},
    {"Alt+[ alone at the end", "\x1b[", 1, 2, 1, 0, '[', alt, 1},
    {"Alt+O waits for a key's sequence", "\x1bO", 0, 0, 0, 0, 0, 0, 1},
    {"lone ESC from a terminal", "\x1b", 1, 1, 1, VK_ESCAPE, 27, 0, 1},
    {"ESC then ESC from a terminal", "\x1b\x1b", 0, 1, 1, VK_ESCAPE, 27, 0, 1},
    {"ESC then Enter from a terminal", "\x1b\r", 0, 1, 1, VK_ESCAPE, 27, 0, 1},
    {"cursor key from a terminal", "\x1b[Ax", 0, 3, 1, VK_UP, 0, grey, 1},
    {"F1 from a terminal", "\x1bOP", 0, 3, 1, VK_F1, 0, 0, 1},
};

class KeyDecoderTable : public testing::TestWithParam<decode_case> {};

TEST_P(KeyDecoderTable, DecodesFirstKey) {
  const decode_case &c = GetParam();
  key_decoder_state state = {};
  state.escape_joins = c.escape_joins;
  decoded_key key = {};
  size_t used =
      key_decode(&state, (const unsigned char *)c.bytes.data(), c.bytes.size(), c.complete, &key);
  ASSERT_EQ(c.used, used);
  if (used == 0) return;
  ASSERT_EQ(c.present, key.present);
  if (!key.present) return;
  EXPECT_EQ(c.virtual_key, key.virtual_key);
  EXPECT_EQ(c.character, key.character);
  EXPECT_EQ(c.control_state, key.control_state);
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyDecoderTable, testing::ValuesIn(decode_cases),
                         [](const testing::TestParamInfo<decode_case> &info) {
                           std::string name;
                           for (const char *p = info.param.name; *p; p++) {
                             name += isalnum((unsigned char)*p) ? *p : '_';
                           }
                           return name;
                         });

TEST(KeyDecoder, CrLfIsOneEnterEvenAcrossReads) {
  key_decoder_state state = {};
  decoded_key key = {};
  const unsigned char cr = '\r', lf = '\n';
  ASSERT_EQ(1u, key_decode(&state, &cr, 1, 0, &key));
  EXPECT_EQ(13, key.character);
  ASSERT_EQ(1u, key_decode(&state, &lf, 1, 0, &key));
  EXPECT_FALSE(key.present);
  ASSERT_EQ(1u, key_decode(&state, &lf, 1, 0, &key));  // a second LF is an empty line
  EXPECT_TRUE(key.present);
  EXPECT_EQ(13, key.character);
}

TEST(KeyDecoder, RunawaySequenceIsDroppedNotWaitedFor) {
  key_decoder_state state = {};
  decoded_key key = {};
  std::string bytes = "\x1b[" + std::string(40, '1');
  size_t used = key_decode(&state, (const unsigned char *)bytes.data(), bytes.size(), 0, &key);
  EXPECT_GT(used, 0u);
  EXPECT_FALSE(key.present);
}

}  // namespace
