// The screen side of the console: clear_screen, write_at, read_attribute and
// the cursor on the screen model; colours and text as the terminal gets them;
// printed text passing through the model.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/entry_field.h"
#include "platform/posix/console_posix.h"
#include "platform/posix/screen_model.h"

namespace {

// Reads everything waiting on a non-blocking descriptor.
std::string drain(int fd) {
  std::string all;
  char buffer[4096];
  ssize_t count;
  while ((count = read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, (size_t)count);
  return all;
}

// A fresh 80 x 25 screen; the console calls' output lands in a pipe.
class ConsoleScreen : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, pipe2(output, O_NONBLOCK));
    console_setup(nullptr);
    console_use_output_fd(output[1]);
    use_screen(0);
  }
  void TearDown() override {
    screen_reset(80, 25, 0);  // the test runner's own output: text alone again
    console_use_output_fd(-1);
    close(output[0]);
    close(output[1]);
  }
  void use_screen(int terminal) {
    screen_reset(80, 25, terminal);
    SetConsoleMode(console_output, ENABLE_PROCESSED_OUTPUT);
    drain(output[0]);
  }
  COORD cursor() {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(console_output, &info);
    return info.dwCursorPosition;
  }
  std::string row_text(int row) {
    std::string text;
    for (int x = 0; x < screen_width(); x++) text += screen_character_at(x, row);
    return text;
  }
  int output[2];
};

// Runs body with standard output going into a packet socket, so that every
// write() is one packet; returns the packets.
template <typename Body>
std::vector<std::string> capture_stdout_writes(Body body) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) return {};
  int saved = dup(STDOUT_FILENO);
  dup2(pair[0], STDOUT_FILENO);
  body();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(pair[0]);
  std::vector<std::string> packets;
  char buffer[8192];
  ssize_t count;
  while ((count = recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    packets.emplace_back(buffer, (size_t)count);
  }
  close(pair[1]);
  return packets;
}

TEST_F(ConsoleScreen, ClearScreenBlanksEveryCellInTheColourAndHomesTheCursor) {
  write_at(24, 79, 0x07, "x");
  write_at(5, 5, 0x4F, "abc");
  clear_screen(0x1E);
  for (int y = 0; y < 25; y++) {
    for (int x = 0; x < 80; x++) {
      ASSERT_EQ(' ', screen_character_at(x, y)) << x << "," << y;
      ASSERT_EQ(0x1E, screen_attribute_at(x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(0, cursor().X);
  EXPECT_EQ(0, cursor().Y);
  EXPECT_EQ(0x1E, screen_attribute());
}

TEST_F(ConsoleScreen, ClearScreenUsesTheAttributesLowByteOnly) {
  clear_screen(0x15E);
  EXPECT_EQ(0x5E, screen_attribute_at(40, 12));
  EXPECT_EQ(0x5E, screen_attribute());
}

TEST_F(ConsoleScreen, PrintedTextAfterClearTakesTheColourAndMovesTheCursor) {
  clear_screen(0x1E);
  capture_stdout_writes([] { printf("CV-Nummer: "); });
  EXPECT_EQ(11, cursor().X);
  EXPECT_EQ(0, cursor().Y);
  EXPECT_EQ("CV-Nummer: ", row_text(0).substr(0, 11));
  EXPECT_EQ(0x1E, screen_attribute_at(3, 0));
}

TEST_F(ConsoleScreen, WriteAtLeavesTheCursorBehindTheTextAndTheColourInForce) {
  clear_screen(0x1E);
  write_at(3, 10, 0x5E, "17");
  EXPECT_EQ('1', screen_character_at(10, 3));
  EXPECT_EQ('7', screen_character_at(11, 3));
  EXPECT_EQ(0x5E, screen_attribute_at(11, 3));
  EXPECT_EQ(0x1E, screen_attribute_at(12, 3));
  EXPECT_EQ(12, cursor().X);
  EXPECT_EQ(3, cursor().Y);
  EXPECT_EQ(0x5E, screen_attribute());
  capture_stdout_writes([] { printf("x"); });
  EXPECT_EQ(0x5E, screen_attribute_at(12, 3));
}

TEST_F(ConsoleScreen, ReadAttributeReturnsTheCellsColourAndLeavesTheCursorThere) {
  clear_screen(0x1E);
  write_at(7, 20, 0x5E, "abc");
  EXPECT_EQ(0x5E, read_attribute(7, 21));
  EXPECT_EQ(21, cursor().X);
  EXPECT_EQ(7, cursor().Y);
  EXPECT_EQ(0x1E, read_attribute(7, 23));
  EXPECT_EQ(0x1E, read_attribute(24, 79));
  EXPECT_EQ(79, cursor().X);
  EXPECT_EQ(24, cursor().Y);
}

TEST_F(ConsoleScreen, MoveCursorTakesRowThenColumnLow16Bits) {
  move_cursor(0x10002, 0x20005);
  EXPECT_EQ(5, cursor().X);
  EXPECT_EQ(2, cursor().Y);
}

TEST_F(ConsoleScreen, WithoutWrapTheLastColumnIsOverwritten) {
  clear_screen(0x1E);
  write_at(0, 75, 0x1E, "abcdefgh");
  EXPECT_EQ('h', screen_character_at(79, 0));
  EXPECT_EQ(' ', screen_character_at(0, 1));
  EXPECT_EQ(79, cursor().X);
  EXPECT_EQ(0, cursor().Y);
}

TEST_F(ConsoleScreen, WithWrapTextContinuesOnTheNextRow) {
  clear_screen(0x1E);
  SetConsoleMode(console_output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  write_at(0, 75, 0x1E, "abcdefgh");
  EXPECT_EQ('e', screen_character_at(79, 0));
  EXPECT_EQ('f', screen_character_at(0, 1));
  EXPECT_EQ(3, cursor().X);
  EXPECT_EQ(1, cursor().Y);
}

TEST_F(ConsoleScreen, ControlCharactersActOnTheCursor) {
  clear_screen(0x1E);
  write_at(4, 0, 0x1E, "abc\rX\tY\nZ\bW");
  EXPECT_EQ("X       Y", row_text(4).substr(0, 9));  // the tab writes blanks
  EXPECT_EQ('W', screen_character_at(0, 5));
  EXPECT_EQ(1, cursor().X);
  EXPECT_EQ(5, cursor().Y);
}

TEST_F(ConsoleScreen, LineFeedOnTheLastRowScrollsInTheCurrentColour) {
  clear_screen(0x1E);
  write_at(24, 0, 0x5E, "last\n");
  EXPECT_EQ("last", row_text(23).substr(0, 4));
  EXPECT_EQ(0x5E, screen_attribute_at(10, 24));
  EXPECT_EQ(0, cursor().X);
  EXPECT_EQ(24, cursor().Y);
}

struct colour_case {
  WORD attribute;
  const char *sequence;
};

// Console blue-green-red against ANSI red-green-blue; intensity is bright.
const colour_case colour_cases[] = {
    {0x1E, "\x1b[0;93;44m"},  // bright yellow on blue
    {0x5E, "\x1b[0;93;45m"},  // bright yellow on magenta
    {0x07, "\x1b[0m"},        // the terminal's own colours
    {0x04, "\x1b[0;31;40m"},  {0x01, "\x1b[0;34;40m"}, {0x02, "\x1b[0;32;40m"},
    {0x06, "\x1b[0;33;40m"},  {0x03, "\x1b[0;36;40m"}, {0x0C, "\x1b[0;91;40m"},
    {0x0F, "\x1b[0;97;40m"},  {0x08, "\x1b[0;90;40m"}, {0x40, "\x1b[0;30;41m"},
    {0x91, "\x1b[0;34;104m"}, {0x70, "\x1b[0;30;47m"}, {0xF0, "\x1b[0;30;107m"},
};

TEST(ConsoleColours, AttributesBecomeAnsiColours) {
  for (const colour_case &c : colour_cases) {
    EXPECT_EQ(c.sequence, screen_colour_sequence(c.attribute)) << std::hex << c.attribute;
  }
}

TEST_F(ConsoleScreen, TerminalGetsColourPositionAndUtf8) {
  use_screen(1);
  clear_screen(0x1E);
  std::string cleared = drain(output[0]);
  EXPECT_NE(std::string::npos, cleared.find("\x1b[0;93;44m\x1b[K"));
  EXPECT_LT(cleared.size(), 1500u);  // a row erase each, not 2000 blanks
  EXPECT_EQ("\x1b[1;1H", cleared.substr(cleared.size() - 6));
  write_at(2, 4, 0x5E,
           "Empf\x84nger \x81"
           "ber");
  EXPECT_EQ(
      "\x1b[3;5H\x1b[0;93;45mEmpf\xc3\xa4nger \xc3\xbc"
      "ber",
      drain(output[0]));
}

TEST_F(ConsoleScreen, TerminalWrapIsTheModelsOwn) {
  use_screen(1);
  SetConsoleMode(console_output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  write_at(0, 78, 0x07, "abc");
  std::string out = drain(output[0]);
  EXPECT_NE(std::string::npos, out.find("\x1b[?7l"));  // the terminal's own wrap off
  EXPECT_NE(std::string::npos, out.find("ab\r\nc"));
}

TEST_F(ConsoleScreen, CursorSizeGivesBlockOrThinCursor) {
  use_screen(1);
  CONSOLE_CURSOR_INFO block = {100, TRUE};
  ASSERT_TRUE(SetConsoleCursorInfo(console_output, &block));
  EXPECT_NE(std::string::npos, drain(output[0]).find("\x1b[2 q"));
  CONSOLE_CURSOR_INFO thin = {1, TRUE};
  ASSERT_TRUE(SetConsoleCursorInfo(console_output, &thin));
  EXPECT_NE(std::string::npos, drain(output[0]).find("\x1b[4 q"));
  CONSOLE_CURSOR_INFO read = {};
  ASSERT_TRUE(GetConsoleCursorInfo(console_output, &read));
  EXPECT_EQ(1u, read.dwSize);
  CONSOLE_CURSOR_INFO none = {0, TRUE};
  EXPECT_FALSE(SetConsoleCursorInfo(console_output, &none));
}

// The terminal's own cursor shape stays until the program asks for another:
// an entry field puts back what it found, which must send nothing.
TEST_F(ConsoleScreen, CursorShapeIsSentOnlyWhenItChanges) {
  use_screen(1);
  CONSOLE_CURSOR_INFO found = {};
  ASSERT_TRUE(GetConsoleCursorInfo(console_output, &found));
  ASSERT_TRUE(SetConsoleCursorInfo(console_output, &found));
  EXPECT_EQ(std::string::npos, drain(output[0]).find(" q"));
  EXPECT_EQ(0, screen_cursor_shape_shown());
  CONSOLE_CURSOR_INFO block = {100, TRUE};
  ASSERT_TRUE(SetConsoleCursorInfo(console_output, &block));
  EXPECT_EQ("\x1b[2 q", drain(output[0]));
  EXPECT_EQ(1, screen_cursor_shape_shown());
  ASSERT_TRUE(SetConsoleCursorInfo(console_output, &found));
  EXPECT_EQ("\x1b[0 q", drain(output[0]));  // the terminal's own shape again
  CONSOLE_CURSOR_INFO hidden = {found.dwSize, FALSE};
  ASSERT_TRUE(SetConsoleCursorInfo(console_output, &hidden));
  EXPECT_EQ("\x1b[?25l", drain(output[0]));
}

// The cursor shape sequences an entry field sends for the keys typed.
std::string shapes_sent_by_field(const std::string &keys, int output_fd) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  console_use_input_fd(fds[0]);
  if (write(fds[1], keys.data(), keys.size()) != (ssize_t)keys.size()) return "no keys";
  char text[8] = "";
  move_cursor(3, 10);
  edit_field(text, 4, 0, 0x5E, nullptr);
  console_use_input_fd(STDIN_FILENO);
  close(fds[0]);
  close(fds[1]);
  std::string out = drain(output_fd), shapes;
  for (size_t at = out.find(" q"); at != std::string::npos; at = out.find(" q", at + 1)) {
    shapes += out.substr(at - 1, 1);
  }
  return shapes;
}

TEST_F(ConsoleScreen, EntryFieldLeavesTheCursorShapeUntilInsert) {
  const struct {
    const char *keys;
    const char *shapes;  // 2 block, 4 underline, 0 the terminal's own
  } cases[] = {
      {"12\x1b[D\r", ""},
      {"\x1b[2~1\r", "20"},
      {"\x16\x16\r", "240"},
  };
  for (const auto &c : cases) {
    use_screen(1);
    EXPECT_EQ(c.shapes, shapes_sent_by_field(c.keys, output[0])) << c.keys + 1;
  }
}

TEST_F(ConsoleScreen, RedrawSendsEveryCellColourAndTheCursor) {
  use_screen(1);
  clear_screen(0x1E);
  write_at(2, 4, 0x5E, "M\xc3\xa4use \x81");
  move_cursor(2, 6);
  CONSOLE_CURSOR_INFO block = {100, TRUE};
  SetConsoleCursorInfo(console_output, &block);
  drain(output[0]);
  std::string out;
  screen_lock();
  screen_redraw(&out);
  screen_unlock();
  EXPECT_EQ(0u, out.find("\x1b[?7l"));
  EXPECT_NE(std::string::npos, out.find("\x1b[1;1H\x1b[0;93;44m\x1b[K"));
  EXPECT_NE(std::string::npos,
            out.find("\x1b[3;1H    \x1b[0;93;45mM\xc3\xa4use \xc3\xbc\x1b[0;93;44m\x1b[K"));
  EXPECT_NE(std::string::npos, out.find("\x1b[3;7H\x1b[2 q"));
  EXPECT_EQ(26u, (size_t)std::count(out.begin(), out.end(), 'H'));  // one row each, then the cursor
}

TEST_F(ConsoleScreen, PrintedTextIsOutInOneWriteWithoutALineFeed) {
  std::vector<std::string> writes =
      capture_stdout_writes([] { printf("Wert f\x81r CV %d: ", 17); });
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ("Wert f\xc3\xbcr CV 17: ", writes[0]);  // no terminal: text alone, UTF-8
}

TEST_F(ConsoleScreen, PlainOutputKeepsLineBreaksAndHasNoEscapes) {
  clear_screen(0x1E);
  std::vector<std::string> writes = capture_stdout_writes([] {
    puts("L\x94schen");
    fputs("Zeile\r", stdout);
  });
  std::string all;
  for (const std::string &piece : writes) all += piece;
  EXPECT_EQ("L\xc3\xb6schen\nZeile\r", all);
}

TEST_F(ConsoleScreen, PlainOutputIsNotBrokenAtTheWindowEdgeButTheModelWraps) {
  SetConsoleMode(console_output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  std::string line(100, 'x');
  std::vector<std::string> writes =
      capture_stdout_writes([&] { printf("%s\tok\n", line.c_str()); });
  std::string all;
  for (const std::string &piece : writes) all += piece;
  EXPECT_EQ(line + "\tok\n", all);  // a pipe or a file gets exactly what was printed
  EXPECT_EQ(2, cursor().Y);         // while the model went on to a second row and past it
}

// Names and file lines that are UTF-8 already pass unchanged; every byte
// that starts no well-formed UTF-8 character is code page 850, and so are the
// two bytes of a C1 control, which the terminal would obey.
struct utf8_case {
  const char *name;
  std::string text;
  std::string shown;  // what the terminal gets
  int cursor_x;       // the cells taken
  char first_cell;    // the model's code page 850 character for the first cell
};

const utf8_case utf8_cases[] = {
    {"UTF-8 name", "M\xc3\xa4use", "M\xc3\xa4use", 5, 'M'},
    {"UTF-8 umlaut alone", "\xc3\xa4", "\xc3\xa4", 1, '\x84'},
    {"own text in code page 850", "L\x94schen", "L\xc3\xb6schen", 7, 'L'},
    {"cut-off lead byte", "\xc3", "\xe2\x94\x9c", 1, '\xc3'},
    {"lead byte before ASCII", "\xc3(", "\xe2\x94\x9c(", 2, '\xc3'},
    {"over-long form", "\xc0\xaf", "\xe2\x94\x94\xc2\xbb", 2, '\xc0'},
    {"surrogate", "\xed\xa0\x80", "\xc3\x9d\xc3\xa1\xc3\x87", 3, '\xed'},
    {"above U+10FFFF", "\xf4\x90\x80\x80", "\xc2\xb6\xc3\x89\xc3\x87\xc3\x87", 4, '\xf4'},
    {"wide character takes two cells",
     "\xe6\x97\xa5"
     "x",
     "\xe6\x97\xa5"
     "x",
     3, '?'},
    {"emoji takes two cells", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", 2, '?'},
    {"CSI as UTF-8", "\xc2\x9b", "\xe2\x94\xac\xc3\xb8", 2, '\xc2'},
    {"OSC as UTF-8", "\xc2\x9d", "\xe2\x94\xac\xc3\x98", 2, '\xc2'},
    {"ST as UTF-8", "\xc2\x9c", "\xe2\x94\xac\xc2\xa3", 2, '\xc2'},
    {"no-break space passes", "\xc2\xa0", "\xc2\xa0", 1, '\xff'},
    {"combining mark joins its letter",
     "u\xcc\x88"
     "b",
     "u\xcc\x88"
     "b",
     2, 'u'},
};

TEST_F(ConsoleScreen, Utf8PassesAndOtherBytesAreCodePage850) {
  for (const utf8_case &c : utf8_cases) {
    use_screen(1);
    write_at(1, 0, 0x07, c.text.c_str());
    std::string out = drain(output[0]);
    size_t text_start = out.find("\x1b[2;1H");
    ASSERT_NE(std::string::npos, text_start) << c.name;
    EXPECT_EQ(c.shown, out.substr(text_start + 6)) << c.name;
    EXPECT_EQ(c.cursor_x, cursor().X) << c.name;
    EXPECT_EQ(c.first_cell, screen_character_at(0, 1)) << c.name;
  }
}

TEST_F(ConsoleScreen, RedrawnUtf8CellsGoOutAsTheyCame) {
  use_screen(1);
  write_at(0, 0, 0x1E, "M\xc3\xa4use \xe6\x97\xa5");
  drain(output[0]);
  DWORD written = 0;
  FillConsoleOutputAttribute(console_output, 0x5E, 8, COORD{0, 0}, &written);
  std::string out = drain(output[0]);
  EXPECT_NE(std::string::npos, out.find("M\xc3\xa4use \xe6\x97\xa5")) << out;
  EXPECT_EQ(std::string::npos, out.find("\xe2\x94\x9c"));  // no code page 850 box piece
}

// Half of a wide character overwritten: the terminal blanks the other half,
// and a redraw still sends one glyph a cell, the wide one from its left half.
TEST_F(ConsoleScreen, WideCharacterHalvesStayInStepWithTheTerminal) {
  use_screen(1);
  write_at(0, 0, 0x07, "\xe6\x97\xa5\xe6\x97\xa5x");
  write_at(0, 0, 0x07, "a");
  EXPECT_EQ(' ', screen_character_at(1, 0));
  drain(output[0]);
  DWORD written = 0;
  FillConsoleOutputAttribute(console_output, 0x1E, 2, COORD{3, 0}, &written);
  std::string out = drain(output[0]);
  EXPECT_EQ(0u, out.find("\x1b[1;3H\xe6\x97\xa5\x1b[0;93;44mx")) << out;
}

TEST_F(ConsoleScreen, PlainOutputPassesUtf8Names) {
  std::vector<std::string> writes = capture_stdout_writes(
      [] { printf("%s existiert bereits! L\x94schen? ", "M\xc3\xa4use.txt"); });
  std::string all;
  for (const std::string &piece : writes) all += piece;
  EXPECT_EQ("M\xc3\xa4use.txt existiert bereits! L\xc3\xb6schen? ", all);
}

TEST_F(ConsoleScreen, PlainOutputPassesNoC1Control) {
  std::vector<std::string> writes = capture_stdout_writes([] {
    printf("%s: ung\x81ltig\n",
           "300 \xc2\x9b"
           "8m");
  });
  std::string all;
  for (const std::string &piece : writes) all += piece;
  EXPECT_EQ(
      "300 \xe2\x94\xac\xc3\xb8"
      "8m: ung\xc3\xbcltig\n",
      all);
}

TEST_F(ConsoleScreen, BadHandlesAreRefused) {
  DWORD mode;
  EXPECT_FALSE(GetConsoleMode(INVALID_HANDLE_VALUE, &mode));
  EXPECT_FALSE(SetConsoleCursorPosition(console_input, COORD{0, 0}));
  EXPECT_FALSE(SetConsoleCursorPosition(console_output, COORD{80, 0}));
}

}  // namespace
