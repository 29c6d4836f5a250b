// Key codes as the program sees them: terminal bytes through the console
// input stand-in and poll_key, key_waiting and wait_key with the held key.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "platform/posix/console_posix.h"

namespace {

// Keys come from a pipe that the test writes into.
class ConsoleKeys : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, pipe(fds));
    console_use_input_fd(fds[0]);
    console_setup(nullptr);
    while (key_waiting()) wait_key();  // nothing held from an earlier test
  }
  void TearDown() override {
    console_use_input_fd(STDIN_FILENO);
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  void type(const std::string &bytes) {
    ASSERT_EQ((ssize_t)bytes.size(), write(fds[1], bytes.data(), bytes.size()));
  }
  void end_input() {
    close(fds[1]);
    fds[1] = -1;
  }
  std::vector<int> keys_now() {
    std::vector<int> keys;
    for (int key = poll_key(); key != KEY_NONE; key = poll_key()) keys.push_back(key);
    return keys;
  }
  int fds[2] = {-1, -1};
};

struct key_case {
  const char *bytes;
  size_t length;  // 0: up to the NUL
  int key;
};

// Each terminal form of a key gives the console's key code.
const key_case key_cases[] = {
    {"\x1bOP", 0, KEY_F1},    // xterm
    {"\x1b[11~", 0, KEY_F1},  // VT220, rxvt
    {"\x1b[[A", 0, KEY_F1},   // Linux console
    {"\x1bOQ", 0, KEY_F2},
    {"\x1b[12~", 0, KEY_F2},
    {"\x1b[[B", 0, KEY_F2},
    {"\x1b[15~", 0, 0x400074},
    {"\x1b[[E", 0, 0x400074},  // F5
    {"\x1b[17~", 0, 0x400075},
    {"\x1b[21~", 0, 0x400079},  // F6, F10
    {"\x1b[23~", 0, 0x40007A},
    {"\x1b[24~", 0, 0x40007B},  // F11, F12
    {"\x1b[1;2P", 0, 0x401070},
    {"\x1bO2P", 0, 0x401070},    // Shift+F1
    {"\x1b[1;3Q", 0, 0x400271},  // left Alt+F2
    {"\x1b[1;5D", 0, 0x400425},
    {"\x1bOd", 0, 0x400425},      // Ctrl+Left, xterm and rxvt
    {"\x1b[1;6C", 0, 0x401427},   // Ctrl+Shift+Right
    {"\x1b[13;5~", 0, 0x400472},  // Ctrl+F3
    {"\x1b[2$", 0, 0x40102D},
    {"\x1b[3^", 0, 0x40042E},  // rxvt Shift+Insert, Ctrl+Delete
    {"\x1b[A", 0, KEY_UP},
    {"\x1bOA", 0, KEY_UP},
    {"\x1b[B", 0, KEY_DOWN},
    {"\x1b[C", 0, KEY_RIGHT},
    {"\x1b[D", 0, KEY_LEFT},
    {"\x1bOD", 0, KEY_LEFT},
    {"\x1b[H", 0, KEY_HOME},
    {"\x1b[1~", 0, KEY_HOME},
    {"\x1b[7~", 0, KEY_HOME},
    {"\x1bOH", 0, KEY_HOME},
    {"\x1b[F", 0, KEY_END},
    {"\x1b[4~", 0, KEY_END},
    {"\x1b[8~", 0, KEY_END},
    {"\x1bOF", 0, KEY_END},
    {"\x1b[2~", 0, KEY_INSERT},
    {"\x1b[3~", 0, KEY_DELETE},
    {"\x1b[5~", 0, KEY_PAGE_UP},
    {"\x1b[6~", 0, KEY_PAGE_DOWN},
    {"\x03", 0, 3},
    {"\x01", 0, KEY_CTRL_A},
    {"\x13", 0, KEY_CTRL_S},
    {"\x16", 0, KEY_CTRL_V},
    {"\x18", 0, KEY_CTRL_X},
    {"\x1a", 0, 26},
    {"\x7f", 0, KEY_BACKSPACE},
    {"\x08", 0, KEY_BACKSPACE},
    {"\t", 0, KEY_TAB},
    {"\x1b[Z", 0, KEY_TAB},
    {"\n", 0, KEY_ENTER},
    {"\r\n", 0, KEY_ENTER},
    {"\r", 0, KEY_ENTER},
    {"\x1bOM", 0, KEY_ENTER},
    {"a", 0, 'a'},
    {"q", 0, 'q'},
    {"Q", 0, 'Q'},
    {"\xc3\xa4", 0, 0x84},
    {"\xc3\xbc", 0, 0x81},
    {"\xc3\x9c", 0, 0x9A},
    {"\0", 1, 0x400432},  // Ctrl+Space
};

TEST_F(ConsoleKeys, EveryTerminalFormGivesItsKeyCode) {
  for (const key_case &c : key_cases) {
    std::string bytes(c.bytes, c.length ? c.length : strlen(c.bytes));
    type(bytes);
    std::vector<int> keys = keys_now();
    ASSERT_EQ(1u, keys.size()) << "bytes of key 0x" << std::hex << c.key;
    EXPECT_EQ(c.key, keys[0]) << "bytes of key 0x" << std::hex << c.key;
  }
}

TEST_F(ConsoleKeys, KeysInOneReadComeOneByOne) {
  type("a\x1b[Db\x1b[99~z\r\r\n\x1bx");
  std::vector<int> expected = {'a', KEY_LEFT, 'b', 'z', KEY_ENTER, KEY_ENTER, KEY_ESC, 'x'};
  EXPECT_EQ(expected, keys_now());
}

// Keys from a pseudo-terminal, as a terminal sends them: Alt+letter is ESC
// and the letter in one write.
class TerminalKeys : public testing::Test {
 protected:
  void SetUp() override {
    terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(0, grantpt(terminal));
    ASSERT_EQ(0, unlockpt(terminal));
    keyboard = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(keyboard, 0);
    termios raw;
    ASSERT_EQ(0, tcgetattr(keyboard, &raw));
    cfmakeraw(&raw);
    ASSERT_EQ(0, tcsetattr(keyboard, TCSANOW, &raw));
    console_use_input_fd(keyboard);
    console_setup(nullptr);
  }
  void TearDown() override {
    console_use_input_fd(STDIN_FILENO);
    close(keyboard);
    close(terminal);
  }
  void type(const std::string &bytes) {
    ASSERT_EQ((ssize_t)bytes.size(), write(terminal, bytes.data(), bytes.size()));
  }
  int terminal = -1;
  int keyboard = -1;
};

TEST_F(TerminalKeys, AltLetterIsTheLetter) {
  const struct {
    const char *bytes;
    std::vector<int> keys;
  } cases[] = {
      {"\x1b"
       "e",
       {'e'}},
      {"\x1bq", {'q'}},
      {"\x1b"
       "E",
       {'E'}},
      {"\x1b\xc3\xa4", {0x84}},
      {"a\x1b"
       "eb",
       {'a', 'e', 'b'}},
      {"\x1b\x1b[D", {KEY_ESC, KEY_LEFT}},
      {"\x1bOP\x1b"
       "e",
       {KEY_F1, 'e'}},
  };
  for (const auto &c : cases) {
    type(c.bytes);
    std::vector<int> keys;
    for (size_t i = 0; i < c.keys.size(); i++) keys.push_back(wait_key());
    EXPECT_EQ(c.keys, keys) << c.bytes + 1;
    EXPECT_EQ(KEY_NONE, poll_key()) << c.bytes + 1;
  }
}

TEST_F(TerminalKeys, EscAloneThenALetterIsEscAndTheLetter) {
  type("\x1b");
  std::thread later([this] {
    // After the ESC has been read, within the wait for the rest of a sequence.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    type("e");
  });
  int first = wait_key();
  later.join();
  EXPECT_EQ(KEY_ESC, first);
  EXPECT_EQ('e', wait_key());
}

TEST_F(TerminalKeys, LoneEscIsEsc) {
  type("\x1b");
  EXPECT_EQ(KEY_ESC, wait_key());
  EXPECT_EQ(KEY_NONE, poll_key());
}

TEST_F(ConsoleKeys, LoneEscIsTheEscKeyAfterAShortWait) {
  type("\x1b");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KEY_ESC, poll_key());
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_EQ(KEY_NONE, poll_key());
}

TEST_F(ConsoleKeys, SequenceSplitAcrossWritesIsOneKey) {
  type("\x1b[1;");
  std::thread rest([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    type("5D");
  });
  EXPECT_EQ(0x400425, wait_key());
  rest.join();
  EXPECT_EQ(KEY_NONE, poll_key());
}

TEST_F(ConsoleKeys, EndOfInputGivesEscForEver) {
  type("p\x1b[");
  end_input();
  std::vector<int> expected = {'p', KEY_ESC, '['};
  EXPECT_EQ(expected, std::vector<int>({wait_key(), wait_key(), wait_key()}));
  for (int i = 0; i < 3; i++) EXPECT_EQ(KEY_ESC, wait_key());
  EXPECT_EQ(1, key_waiting());
}

TEST_F(ConsoleKeys, NoKeyMeansNoneAndNotWaiting) {
  EXPECT_EQ(KEY_NONE, poll_key());
  EXPECT_EQ(0, key_waiting());
}

TEST_F(ConsoleKeys, WaitingKeyIsHeldAndHandedOutByWaitKey) {
  type("e");
  ASSERT_EQ(1, key_waiting());
  EXPECT_EQ(KEY_NONE, poll_key());  // it left the input: it is held
  EXPECT_EQ('e', wait_key());
  EXPECT_EQ(0, key_waiting());
}

TEST_F(ConsoleKeys, SecondKeyWaitingKeepsFirstKeyAndLeavesTheSecond) {
  type("l");
  ASSERT_EQ(1, key_waiting());
  type("\x1bOP");
  ASSERT_EQ(1, key_waiting());
  EXPECT_EQ('l', wait_key());
  EXPECT_EQ(KEY_F1, wait_key());
  EXPECT_EQ(0, key_waiting());
}

TEST_F(ConsoleKeys, WaitKeyWaitsForTheNextKey) {
  std::thread later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    type("\xc3\xa4");
  });
  EXPECT_EQ(0x84, wait_key());
  later.join();
}

TEST_F(ConsoleKeys, SetupTakesTheHandlesOnce) {
  HANDLE input = console_input;
  ASSERT_NE(nullptr, input);
  console_setup(nullptr);
  EXPECT_EQ(input, console_input);
  DWORD mode = 99;
  ASSERT_TRUE(GetConsoleMode(console_input, &mode));
  EXPECT_EQ(0u, mode);
}

}  // namespace

namespace {

INPUT_RECORD key_event(BOOL down, WORD vk, char character, DWORD state) {
  INPUT_RECORD record = {};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = vk;
  record.Event.KeyEvent.uChar.AsciiChar = character;
  record.Event.KeyEvent.dwControlKeyState = state;
  return record;
}

struct event_case {
  const char *name;
  INPUT_RECORD record;
  int key;  // KEY_NONE: dropped
};

// Events as a Windows console queues them, through poll_key.
const event_case event_cases[] = {
    {"F1", key_event(TRUE, VK_F1, 0, 0), KEY_F1},
    {"Shift+F1", key_event(TRUE, VK_F1, 0, SHIFT_PRESSED), 0x401070},
    {"left Ctrl+Left", key_event(TRUE, VK_LEFT, 0, LEFT_CTRL_PRESSED | ENHANCED_KEY), 0x400425},
    {"right Ctrl+Left", key_event(TRUE, VK_LEFT, 0, RIGHT_CTRL_PRESSED | ENHANCED_KEY), 0x400425},
    {"keypad Left, Num Lock off", key_event(TRUE, VK_LEFT, 0, 0), KEY_LEFT},
    {"Left with Caps, Num and Scroll Lock on",
     key_event(TRUE, VK_LEFT, 0, CAPSLOCK_ON | NUMLOCK_ON | SCROLLLOCK_ON), KEY_LEFT},
    {"left Alt+F2", key_event(TRUE, VK_F2, 0, LEFT_ALT_PRESSED), 0x400271},
    {"right Alt+F2", key_event(TRUE, VK_F2, 0, RIGHT_ALT_PRESSED), 0x400171},
    {"character wins over modifiers", key_event(TRUE, 'A', 'a', LEFT_CTRL_PRESSED), 'a'},
    {"code page 850 character", key_event(TRUE, 0, (char)0x84, 0), 0x84},
    {"key release", key_event(FALSE, VK_F1, 0, 0), KEY_NONE},
    {"Shift alone", key_event(TRUE, VK_SHIFT, 0, SHIFT_PRESSED), KEY_NONE},
    {"Ctrl alone", key_event(TRUE, VK_CONTROL, 0, LEFT_CTRL_PRESSED), KEY_NONE},
    {"Num Lock", key_event(TRUE, 0x90, 0, NUMLOCK_ON), KEY_NONE},
    {"keypad 5 without Num Lock", key_event(TRUE, 0x0C, 0, 0), KEY_NONE},
};

TEST_F(ConsoleKeys, WindowsEventsGiveTheirKeyCodes) {
  for (const event_case &c : event_cases) {
    console_queue_event(c.record);
    EXPECT_EQ(c.key, poll_key()) << c.name;
    EXPECT_EQ(KEY_NONE, poll_key()) << c.name;
  }
}

TEST_F(ConsoleKeys, KeyWaitingRemovesReleasesAndOtherEvents) {
  INPUT_RECORD focus = {};
  focus.EventType = FOCUS_EVENT;
  console_queue_event(key_event(FALSE, 'A', 'a', 0));
  console_queue_event(focus);
  console_queue_event(key_event(TRUE, VK_SHIFT, 0, SHIFT_PRESSED));
  EXPECT_EQ(0, key_waiting());
  DWORD count = 9;
  INPUT_RECORD record;
  ASSERT_TRUE(PeekConsoleInputA(console_input, &record, 1, &count));
  EXPECT_EQ(0u, count);
}

TEST_F(ConsoleKeys, OneEventGivesOneKeyWhateverItsRepeatCount) {
  INPUT_RECORD repeated = key_event(TRUE, 'X', 'x', 0);
  repeated.Event.KeyEvent.wRepeatCount = 3;
  console_queue_event(repeated);
  EXPECT_EQ('x', poll_key());
  EXPECT_EQ(KEY_NONE, poll_key());
}

}  // namespace
