// The `e` command against a healthy virtual receiver whose CVs live in a
// folder: what the user sees, what the receiver is sent and what it stores.
#include <stdlib.h>

#include <filesystem>

#include "tests/cvtool/receiver_dialogue.h"
#include "tests/support/files.h"

namespace {

std::string receiver_dir(void) {
  static std::string dir;
  if (dir.empty()) {
    dir = make_temp_dir("dialogue_receiver");
    atexit([] { std::filesystem::remove_all(receiver_dir()); });
  }
  return dir;
}

using SingleCv = DialogueTest;

TEST_F(SingleCv, EnterAfterEnterReadsConsecutiveCvs) {
  vr_set_cv(vr, 0, 1, 0xA1);
  vr_set_cv(vr, 0, 2, 0xB2);
  vr_set_cv(vr, 0, 3, 0xC3);
  run(T_ENTER T_ENTER T_ENTER "l" T_ENTER T_ENTER T_ESC);
  EXPECT_TRUE(shows("CV    1  = 161 (1010 0001)\n")) << screen;
  EXPECT_TRUE(shows("CV    2  = 178 (1011 0010)\n")) << screen;
  EXPECT_TRUE(shows("CV    3  = 195 (1100 0011)\n")) << screen;
  EXPECT_TRUE(shows(PROMPT "4\n")) << screen;
  EXPECT_EQ(4, next_cv_entry);
  std::vector<std::string> verifies = {"00 00 A1 AF", "00 01 B2 AF", "00 02 C3 AF"};
  EXPECT_EQ(verifies, with_opcode(sent, "AF"));
}

struct wrap_case {
  const char *typed;
  int bank, cv, value;
  const char *line;  // the result line
  int next;          // the number offered next
};

const wrap_case wrap_cases[] = {
    {"256", 0, 256, 0x5A, "CV  256  = 90 (0101 1010)", 1},
    {"1256", 1, 256, 0x0F, "CV  256a = 15 (0000 1111)", 1001},
    {"1001", 1, 1, 0xFE, "CV    1a = 254 (1111 1110)", 1002},
    {"255", 0, 255, 7, "CV  255  = 7 (0000 0111)", 256},
};

class WrapCases : public DialogueTest, public testing::WithParamInterface<wrap_case> {};

TEST_P(WrapCases, ReadOffersTheNextCvOfTheSameBank) {
  const wrap_case &c = GetParam();
  vr_set_cv(vr, c.bank, c.cv, c.value);
  run(std::string(c.typed) + T_ENTER "l" T_ESC);
  EXPECT_TRUE(shows(std::string("CV Nr ") + std::to_string(c.cv) + " auslesen...\n")) << screen;
  EXPECT_TRUE(shows(std::string(c.line) + "\n")) << screen;
  EXPECT_EQ(c.next, next_cv_entry);
  EXPECT_TRUE(shows(PROMPT + std::to_string(c.next) + "\n")) << screen;
  EXPECT_EQ(c.bank, cv_selection.bank);
  EXPECT_EQ(c.cv, cv_selection.number);
}

INSTANTIATE_TEST_SUITE_P(Numbers, WrapCases, testing::ValuesIn(wrap_cases));

class RefusedNumbers : public DialogueTest, public testing::WithParamInterface<const char *> {};

TEST_P(RefusedNumbers, EndTheDialogueAndStartAgainAtOne) {
  next_cv_entry = 50;
  cv_selection.number = 50;
  run(std::string(GetParam()) + T_ENTER "l" T_ENTER);
  EXPECT_TRUE(shows("ung\x81ltige CV!\n")) << screen;
  EXPECT_FALSE(shows("l..esen")) << screen;
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(1, next_cv_entry);
  EXPECT_EQ(1, cv_selection.number);
}

// The empty text is a number too: Delete clears the default.
INSTANTIATE_TEST_SUITE_P(Numbers, RefusedNumbers,
                         testing::Values("0", "1000", "1257", "9999", T_DELETE T_DELETE));

TEST_F(SingleCv, AnyOtherAnswerThanReadOrProgramEndsTheDialogue) {
  for (const char *answer : {"x", "L", "P", T_F1}) {
    console.new_input();
    run(std::string("5" T_ENTER) + answer + "l");
    EXPECT_TRUE(sent.empty()) << answer;
    EXPECT_FALSE(shows("auslesen")) << answer;
  }
}

TEST_F(SingleCv, FiveThenF1ShowsTheBinaryText) {
  run("7" T_ENTER "p5" T_F1 T_ESC);
  EXPECT_TRUE(shows(DECIMAL_PROMPT "5\n")) << screen;
  EXPECT_TRUE(shows(BINARY_PROMPT "0000 0101\n")) << screen;
  EXPECT_EQ(1, binary_entry_mode);
  EXPECT_TRUE(with_opcode(sent, "AE").empty()) << "ESC must not write";
  EXPECT_EQ(6, vr_cv(vr, 0, 7));
}

TEST_F(SingleCv, BinaryModeStaysForTheNextCommand) {
  run("7" T_ENTER "p" T_F1 T_ESC);
  console.new_input();
  clear_screen(ATTR_SCREEN);
  run("8" T_ENTER "p" T_ESC);
  EXPECT_TRUE(shows(BINARY_PROMPT)) << screen;
  EXPECT_FALSE(shows("F1->")) << screen;
}

struct binary_case {
  const char *typed;
  int value;
  const char *command;  // the write sent for CV 7
};

// The field takes only 0, 1 and the blank; the value offered is 255.
const binary_case binary_cases[] = {
    {"1101", 13, "00 06 0D AE"},
    {"12101", 13, "00 06 0D AE"},
    {"111100001", 0xE1, "00 06 E1 AE"},
    {"0", 0, "00 06 00 AE"},
    {"0000 0101", 5, "00 06 05 AE"},
    // A decimal number typed into the binary field is no entry: the value
    // offered stays, where it once wrote 0.
    {"32", 0xFF, "00 06 FF AE"},
    {"300", 0, "00 06 00 AE"},  // its zeros are binary digits
};

class BinaryEntry : public DialogueTest, public testing::WithParamInterface<binary_case> {};

TEST_P(BinaryEntry, WritesTheParsedValue) {
  binary_entry_mode = 1;
  cv_selection.value = 0xFF;
  run(std::string("7" T_ENTER "p") + GetParam().typed + T_ENTER T_ESC);
  EXPECT_TRUE(shows(BINARY_PROMPT)) << screen;
  EXPECT_EQ(std::vector<std::string>{GetParam().command}, with_opcode(sent, "AE"));
  EXPECT_EQ(GetParam().value, vr_cv(vr, 0, 7));
  vr_set_cv(vr, 0, 7, 6);
}

INSTANTIATE_TEST_SUITE_P(Texts, BinaryEntry, testing::ValuesIn(binary_cases));

TEST_F(SingleCv, F2OffersTheBinaryValueInDecimal) {
  binary_entry_mode = 1;
  run("9" T_ENTER "p101" T_F2 T_ENTER T_ESC);
  EXPECT_TRUE(shows(BINARY_PROMPT "101\n")) << screen;
  EXPECT_TRUE(shows(DECIMAL_PROMPT "5\n")) << screen;
  EXPECT_EQ(0, binary_entry_mode);
  EXPECT_EQ(5, vr_cv(vr, 0, 9));
  vr_set_cv(vr, 0, 9, 8);
}

TEST_F(SingleCv, ValueOutOfRangeIsRefusedAndZeroOffered) {
  run("7" T_ENTER "p300" T_ENTER T_ENTER T_ESC);
  EXPECT_TRUE(shows(DECIMAL_PROMPT
                    "300ung\x81ltiger Wert (muss zwischen 0 und 255 liegen!)\n" DECIMAL_PROMPT
                    "0\n"))
      << screen;
  EXPECT_EQ(std::vector<std::string>{"00 06 00 AE"}, with_opcode(sent, "AE"));
  EXPECT_EQ(0, vr_cv(vr, 0, 7));
  vr_set_cv(vr, 0, 7, 6);
}

TEST_F(SingleCv, LastValueReadIsTheDefaultForProgramming) {
  run("17" T_ENTER T_ENTER "17" T_ENTER "p" T_ESC);
  EXPECT_TRUE(shows("CV   17  = 16 (0001 0000)\n")) << screen;
  EXPECT_TRUE(shows(DECIMAL_PROMPT "16\n")) << screen;
}

TEST_F(SingleCv, WrittenValueIsInTheReceiverAndItsFile) {
  run("1029" T_ENTER "p200" T_ENTER T_ESC);
  EXPECT_EQ(std::vector<std::string>{"01 1C C8 AE"}, with_opcode(sent, "AE"));
  EXPECT_TRUE(with_opcode(sent, "AF").empty()) << "a write is not read back";
  EXPECT_EQ(200, vr_cv(vr, 1, 29));
  EXPECT_NE(std::string::npos,
            read_text(receiver_dir() + "/cvs.txt").find("CV  29a = 200 (b1100 1000)\n"));
  EXPECT_EQ(1029, next_cv_entry);  // not advanced after a write
  EXPECT_TRUE(shows(PROMPT "1029\n")) << screen;
  vr_set_cv(vr, 1, 29, 227);
}

}  // namespace

std::string dialogue_port(void) {
  return "sim:" + receiver_dir() + "?instant";
}
