// The entry field editor on the screen model, driven by the bytes a terminal
// sends for each key.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "console/entry_field.h"
#include "tests/support/console_harness.h"

namespace {

const int FIELD_ROW = 2;
const int FIELD_COLUMN = 10;

class EntryField : public testing::Test {
 protected:
  void SetUp() override { console.start(80, 25); }
  void TearDown() override { console.stop(); }

  // Types keys (then nothing more) into a field at FIELD_ROW/FIELD_COLUMN.
  int edit(const char *default_text, int length, int kind, const std::string &keys) {
    strcpy(buffer, default_text);
    console.type(keys);
    console.close_input();
    move_cursor(FIELD_ROW, FIELD_COLUMN);
    return edit_field(buffer, length, kind, ATTR_FIELD, &changed);
  }

  ConsoleHarness console;
  char buffer[64];
  int changed = -1;
};

struct edit_case {
  const char *name;
  const char *default_text;
  int length;
  int kind;
  const char *keys;
  const char *text;  // the buffer on return
  int changed;
};

const edit_case edit_cases[] = {
    // The fresh default and the first key.
    {"first digit replaces the default", "1", 4, 4, "25" T_ENTER, "25", 1},
    {"Enter keeps the default unchanged", "1", 4, 4, T_ENTER, "1", 0},
    {"Right then a digit overwrites behind the default", "1", 4, 4, T_RIGHT "5" T_ENTER, "15", 1},
    {"insert at Home loses the last cell", "123", 3, 4, T_INSERT T_HOME "9" T_ENTER, "912", 1},
    {"insert in the middle", "123", 4, 4, T_INSERT T_RIGHT "9" T_ENTER, "1923", 1},
    {"a longer default is cut to the field", "12345", 3, 4, T_ENTER, "123", 0},
    {"Backspace at the start leaves the field fresh", "7", 4, 4, T_BACKSPACE "3" T_ENTER, "3", 1},
    {"Delete at the start ends the fresh state", "123", 4, 4, T_DELETE "9" T_ENTER, "93", 1},
    {"Delete alone changes the text", "123", 4, 4, T_DELETE T_ENTER, "23", 1},
    {"Ctrl+G deletes like Delete", "123", 4, 4, "\x07" T_ENTER, "23", 1},
    {"ignored control keys keep the field fresh", "1", 4, 4,
     "\t\x02\x03"
     "5" T_ENTER,
     "5", 1},
    {"Right alone changes nothing", "12", 4, 4, T_RIGHT T_RIGHT T_ENTER, "12", 0},
    // Moves; the position shows in where the next key acts.
    {"End on a full field stands on its last cell", "1234", 4, 4, T_END T_BACKSPACE T_ENTER, "124",
     1},
    {"End on 12 goes behind it", "12", 4, 4, T_END "9" T_ENTER, "129", 1},
    {"End on 1234 overwrites the 4", "1234", 4, 4, T_END "9" T_ENTER, "1239", 1},
    {"End on an empty field stops at index 1", "", 4, 4, T_END "9" T_ENTER, " 9", 1},
    {"Left and Ctrl+S move back", "123", 3, 4,
     T_END T_LEFT "9" T_HOME "\x04\x04\x13"
                  "8" T_ENTER,
     "183", 1},
    {"Ctrl+D moves right", "123", 3, 4,
     "\x04"
     "9" T_ENTER,
     "193", 1},
    {"Right stops at the end of the field", "12", 2, 4,
     T_RIGHT T_RIGHT T_RIGHT "9" T_BACKSPACE T_ENTER, "1", 1},
    {"Left stops at the start", "12", 2, 4, T_RIGHT T_LEFT T_LEFT "9" T_ENTER, "92", 1},
    {"Ctrl+F stops on the blank", "0000 0101", 9, 4,
     "\x06"
     "7" T_ENTER,
     "000070101", 1},
    {"a second Ctrl+F goes to the end", "0000 0101", 9, 4,
     "\x06\x06"
     "7" T_BACKSPACE T_ENTER,
     "0000 010", 1},
    {"Ctrl+A from the end stops on the blank", "0000 0101", 9, 4,
     "\x06\x06\x01"
     "7" T_ENTER,
     "000070101", 1},
    {"a second Ctrl+A goes to the start", "0000 0101", 9, 4,
     "\x06\x06\x01\x01"
     "7" T_ENTER,
     "7000 0101", 1},
    {"typing into the fresh binary field blanks it all", "0000 0101", 9, 4, "1111 1" T_ENTER,
     "11111", 1},
    // Characters per field kind.
    {"kind 4: digits only, as many as the field holds", "", 3, 4, "a -.1234" T_ENTER, "123", 1},
    {"kind 4: nothing accepted is no change", "", 3, 4, "a -." T_ENTER, "", 0},
    {"kind 6: digits only", "", 4, 6, "-.5x" T_ENTER, "5", 1},
    {"kind 3: digits and the sign", "", 4, 3, "-5.a" T_ENTER, "-5", 1},
    {"kind 5: digits and the sign", "", 4, 5, "5-." T_ENTER, "5-", 1},
    {"kind 9: digits, sign and point", "", 5, 9, "1.5-a" T_ENTER, "1.5-", 1},
    {"kind 12 as kind 9", "", 5, 12, "x2.-" T_ENTER, "2.-", 1},
    {"kind 0: every character, umlauts as code page 850", "", 6, 0, "a B\xc3\xa4!" T_ENTER,
     "a B\x84!", 1},
    {"a negative kind as kind 0", "", 3, -1, "x~y" T_ENTER, "x~y", 1},
    // Alignment on return.
    {"kind 7 fills with zeros in front", "", 3, 7, "5" T_ENTER, "005", 1},
    {"kind 7 empty is all zeros", "", 3, 7, T_ENTER, "000", 0},
    {"kind 8 as kind 7, without the sign", "", 3, 8, "-7" T_ENTER, "007", 1},
    {"kind 1 right-aligns with blanks", "", 3, 1, "5" T_ENTER, "  5", 1},
    {"kind 1 empty is all blanks", "", 3, 1, T_ENTER, "   ", 0},
    {"kind 2 turns every blank into 0", "1 2", 4, 2, T_ENTER, "0102", 0},
    {"kind 0 drops trailing blanks only", " ab  ", 5, 0, T_ENTER, " ab", 0},
    {"kind 4 all blank is the empty text", "   ", 3, 4, T_ENTER, "", 0},
    // The binary field takes the keys that mean something there only.
    {"binary: a decimal number typed leaves the value", "0000 0110", 9, FIELD_KIND_BINARY,
     "32" T_ENTER, "0000 0110", 0},
    {"binary: digits 0 and 1 and the blank between the groups", "0000 0110", 9, FIELD_KIND_BINARY,
     "0010 0000" T_ENTER, "0010 0000", 1},
    {"binary: other keys among them are ignored", "0000 0110", 9, FIELD_KIND_BINARY,
     "1a2-0.1" T_ENTER, "101", 1},
};

class EditCases : public EntryField, public testing::WithParamInterface<edit_case> {};

TEST_P(EditCases, GivesTheText) {
  const edit_case &c = GetParam();
  EXPECT_EQ(KEY_ENTER, edit(c.default_text, c.length, c.kind, c.keys));
  EXPECT_EQ(std::string(c.text), std::string(buffer));
  EXPECT_EQ(c.changed, changed);
}

INSTANTIATE_TEST_SUITE_P(Keys, EditCases, testing::ValuesIn(edit_cases),
                         [](const testing::TestParamInfo<edit_case> &info) {
                           std::string name;
                           for (const char *p = info.param.name; *p; p++)
                             name += isalnum((unsigned char)*p) ? *p : '_';
                           return name;
                         });

struct finish_case {
  const char *keys;
  int key;
};

// Keys the editor does not handle end it and are handed to the caller.
const finish_case finish_cases[] = {
    {T_ENTER, KEY_ENTER},     {"\x05", KEY_CTRL_E},
    {"\x18", KEY_CTRL_X},     {T_ESC, KEY_ESC},
    {T_F1, KEY_F1},           {T_F2, KEY_F2},
    {T_UP, KEY_UP},           {T_DOWN, KEY_DOWN},
    {T_PAGE_UP, KEY_PAGE_UP}, {T_PAGE_DOWN, KEY_PAGE_DOWN},
    {T_F12, 0x40007B},        {T_SHIFT_LEFT, 0x401025},
    {T_CTRL_HOME, 0x400424},
};

class FinishCases : public EntryField, public testing::WithParamInterface<finish_case> {};

// The typed text comes back with every finishing key, ESC included.
TEST_P(FinishCases, ReturnTheKeyWithTheTypedText) {
  EXPECT_EQ(GetParam().key, edit("1", 4, 4, std::string("\t42") + GetParam().keys));
  EXPECT_STREQ("42", buffer);
  EXPECT_EQ(1, changed);
}

INSTANTIATE_TEST_SUITE_P(Keys, FinishCases, testing::ValuesIn(finish_cases));

TEST_F(EntryField, TextStandsInTheColourFoundAndTheFieldColourStaysBehindIt) {
  edit("", 4, 4, "12" T_ENTER);
  EXPECT_EQ("          12", console.row_text(FIELD_ROW));
  EXPECT_EQ(ATTR_SCREEN, console.attribute_at(FIELD_ROW, FIELD_COLUMN));
  EXPECT_EQ(ATTR_SCREEN, console.attribute_at(FIELD_ROW, FIELD_COLUMN + 1));
  EXPECT_EQ(ATTR_FIELD, console.attribute_at(FIELD_ROW, FIELD_COLUMN + 2));
  EXPECT_EQ(ATTR_FIELD, console.attribute_at(FIELD_ROW, FIELD_COLUMN + 3));
  EXPECT_EQ(ATTR_SCREEN, console.attribute_at(FIELD_ROW, FIELD_COLUMN + 4));
  screen_lock();
  EXPECT_EQ(ATTR_SCREEN, screen_attribute());  // the caller's next output
  EXPECT_EQ(FIELD_COLUMN + 2, screen_cursor_x());
  EXPECT_EQ(FIELD_ROW, screen_cursor_y());
  screen_unlock();
}

TEST_F(EntryField, SavedColourIsTheOneUnderTheFirstCell) {
  write_at(FIELD_ROW, FIELD_COLUMN, 0x2F, "    ");
  edit("", 3, 7, "5" T_ENTER);
  EXPECT_EQ("          005", console.row_text(FIELD_ROW));
  for (int i = 0; i < 3; i++) EXPECT_EQ(0x2F, console.attribute_at(FIELD_ROW, FIELD_COLUMN + i));
  screen_lock();
  EXPECT_EQ(0x2F, screen_attribute());
  screen_unlock();
}

TEST_F(EntryField, NoChangedPointerIsFine) {
  strcpy(buffer, "1");
  console.type("7" T_ENTER);
  console.close_input();
  EXPECT_EQ(KEY_ENTER, edit_field(buffer, 4, 4, ATTR_FIELD, nullptr));
  EXPECT_STREQ("7", buffer);
}

// Waits (real time) until the cursor has the size, or a second has passed.
int wait_for_cursor_size(int size) {
  for (int i = 0; i < 100 && ConsoleHarness::cursor_size() != size; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return ConsoleHarness::cursor_size();
}

TEST_F(EntryField, InsertShowsABlockOverwriteALineAndTheShapeComesBack) {
  CONSOLE_CURSOR_INFO shape = {25, TRUE};
  SetConsoleCursorInfo(console_output, &shape);
  strcpy(buffer, "123");
  move_cursor(FIELD_ROW, FIELD_COLUMN);
  int key = 0;
  std::thread editor([&] { key = edit_field(buffer, 3, 4, ATTR_FIELD, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(25, ConsoleHarness::cursor_size());  // the console's own until the first toggle
  console.type(T_INSERT);
  EXPECT_EQ(100, wait_for_cursor_size(100));
  console.type("\x16");  // Ctrl+V
  EXPECT_EQ(1, wait_for_cursor_size(1));
  console.type(T_ENTER);
  editor.join();
  EXPECT_EQ(KEY_ENTER, key);
  CONSOLE_CURSOR_INFO after = {0, FALSE};
  GetConsoleCursorInfo(console_output, &after);
  EXPECT_EQ(25u, after.dwSize);
  EXPECT_TRUE(after.bVisible);
}

struct word_case {
  int c;
  int word;
};

// The edges of each range, and the national letters of code page 850.
const word_case word_cases[] = {
    {'0', 1},  {'9', 1},  {'A', 1},  {'Z', 1}, {'a', 1}, {'z', 1}, {0x80, 1},
    {0x84, 1}, {0xFF, 1}, {' ', 0},  {'/', 0}, {':', 0}, {'@', 0}, {'[', 0},
    {'`', 0},  {'{', 0},  {0x7F, 0}, {'-', 0}, {'.', 0}, {0, 0},   {9, 0},
};

TEST(WordChar, LettersDigitsAndTheUpperHalf) {
  for (const word_case &w : word_cases) EXPECT_EQ(w.word, is_word_char(w.c) != 0) << w.c;
}

}  // namespace
