// The `e` command against a receiver that confirms no read (every verify
// fails), while it still stores what is written.
#include "tests/cvtool/receiver_dialogue.h"

namespace {

using ReadFailure = DialogueTest;

TEST_F(ReadFailure, OffersTheSameCvAgainAndProgrammingOffersZero) {
  cv_selection.value = 77;
  run("5" T_ENTER T_ENTER T_ENTER "p" T_ENTER T_ESC);
  EXPECT_TRUE(shows("CV Nr 5 auslesen...\nCV 5 Lesefehler!\n")) << screen;
  EXPECT_FALSE(shows("CV    5  =")) << screen;
  EXPECT_EQ(5, next_cv_entry);
  EXPECT_TRUE(shows("Lesefehler!\n\n\n" PROMPT "5\n")) << screen;
  EXPECT_TRUE(shows("neuer Wert: (F1->Bin\x84reingabe) 0\n")) << screen;
  EXPECT_EQ(std::vector<std::string>{"00 04 00 AE"}, with_opcode(sent, "AE"));
  EXPECT_EQ(0, vr_cv(vr, 0, 5));
}

}  // namespace

std::string dialogue_port(void) {
  return "sim:?instant,fail=1";
}
