// The command line's lists of CVs (--cvs, --read) and of CV=VALUE pairs
// (--write): what each list names, in which order, and the entry a wrong one
// is refused for, with the reason.
#include <gtest/gtest.h>

#include <string>

#include "cvtool/cv_list_arg.h"
#include "cvtool/data_file_line.h"

namespace {

// The list as "7 7a=12 ...": each CV, with "=VALUE" where values is true.
std::string listed(const JobCvList &list, bool values) {
  std::string text;
  for (int i = 0; i < list.count; i++) {
    const JobCv &cv = list.cvs[i];
    if (!text.empty()) text += " ";
    text += std::to_string(cv.number) + (cv.bank ? "a" : "");
    if (values) text += "=" + std::to_string(cv.value);
  }
  return text;
}

struct ListCase {
  const char *text;
  bool values;           // a --write list
  const char *expected;  // listed(), or for a refusal the entry named
  const char *reason;    // null: taken
};

const ListCase list_cases[] = {
    {"7", false, "7", nullptr},
    {"7a", false, "7a", nullptr},
    {"3-5,1a-2a", false, "3 4 5 1a 2a", nullptr},
    {"5,3,5,3a,4-6", false, "5 3 3a 4 6", nullptr},
    {" 1 - 2 , 7A ", false, "1 2 7a", nullptr},
    {"256,256a", false, "256 256a", nullptr},
    {"0", false, "0", "CV muss zwischen 1 und 256 liegen"},
    {"257", false, "257", "CV muss zwischen 1 und 256 liegen"},
    {"99999999999", false, "99999999999", "CV muss zwischen 1 und 256 liegen"},
    {"1,5-3", false, "5-3",
     "Anfang gr\x94\xe1"
     "er als Ende"},
    {"1-3a", false, "1-3a", "Anfang und Ende in zwei B\x84nken"},
    {"x", false, "x", "keine CV-Nummer"},
    {"-5", false, "-5", "keine CV-Nummer"},
    {"7x", false, "7x", "eine CV-Nummer sind Ziffern, f\x81r die alternative Bank mit a (7, 7a)"},
    {"CV 7", false, "CV 7",
     "eine CV-Nummer sind Ziffern, f\x81r die alternative Bank mit a (7, 7a)"},
    {"", false, "", "keine CV genannt"},
    {"1,", false, "1,", "leerer Eintrag (Komma am Anfang, am Ende oder doppelt)"},
    {",1", false, ",1", "leerer Eintrag (Komma am Anfang, am Ende oder doppelt)"},
    {"7=12,7a=0,256=255", true, "7=12 7a=0 256=255", nullptr},
    {" 7 = 12 ", true, "7=12", nullptr},
    {"7=256", true, "7=256", "Wert muss zwischen 0 und 255 liegen"},
    {"7=-1", true, "7=-1", "Wert muss zwischen 0 und 255 liegen"},
    {"7", true, "7", "kein '='"},
    {"7=", true, "7=", "kein Wert"},
    {"=7", true, "=7", "keine CV-Nummer"},
    {"7=b1", true, "7=b1", "der Wert ist eine Dezimalzahl von 0 bis 255"},
    {"7=1x", true, "7=1x", "der Wert ist eine Dezimalzahl von 0 bis 255"},
    {"1-2=7", true, "1-2=7",
     "eine CV-Nummer sind Ziffern, f\x81r die alternative Bank mit a (7, 7a)"},
    {"7=1,7a=1,7=2", true, "7=2", "CV zweimal genannt"},
    {"7=1,,8=1", true, "7=1,,8=1", "leerer Eintrag (Komma am Anfang, am Ende oder doppelt)"},
};

TEST(CvListArg, TakesEachListAsItSaysOrNamesTheWrongEntry) {
  for (const ListCase &c : list_cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    static JobCvList list;
    CvListError error = {"", nullptr};
    int parsed =
        c.values ? cv_values_parse(c.text, &list, &error) : cv_list_parse(c.text, &list, &error);
    if (c.reason == nullptr) {
      EXPECT_EQ(parsed, 0) << error.part << ": " << (error.reason ? error.reason : "");
      EXPECT_EQ(listed(list, c.values), c.expected);
    } else {
      EXPECT_EQ(parsed, -1) << listed(list, c.values);
      EXPECT_EQ(error.part, c.expected);
      EXPECT_STREQ(error.reason, c.reason);
    }
  }
}

TEST(CvListArg, EveryCvOfBothBanksIsFiveHundredAndTwelve) {
  static JobCvList list;
  CvListError error;
  ASSERT_EQ(cv_list_parse("1-256,1a-256a,7,7a", &list, &error), 0);
  ASSERT_EQ(list.count, 512);
  EXPECT_EQ(list.cvs[0].number, 1);
  EXPECT_EQ(list.cvs[255].number, 256);
  EXPECT_EQ(list.cvs[256].bank, 1);
  EXPECT_EQ(list.cvs[511].number, 256);
  EXPECT_EQ(list.cvs[511].bank, 1);
}

// The number and bank of a line's CV part, as the lists read them.
TEST(CvListArg, TheCvNameIsReadAsADataFileReadsIt) {
  const struct {
    const char *text;
    int verdict, number, bank;
  } cases[] = {{"7", DATA_LINE_CV, 7, 0},       {"CV 7a ", DATA_LINE_CV, 7, 1},
               {"aCV 7", DATA_LINE_CV, 7, 0},   {"CV", DATA_LINE_NO_CV, 0, 0},
               {"0", DATA_LINE_CV_RANGE, 0, 0}, {"257A", DATA_LINE_CV_RANGE, 0, 0}};
  for (const auto &c : cases) {
    DataLine found = {0, 0, -1};
    std::string text = c.text;
    EXPECT_EQ(parse_cv_name(text.c_str(), text.c_str() + text.size(), &found), c.verdict) << c.text;
    if (c.verdict != DATA_LINE_CV) continue;
    EXPECT_EQ(found.number, c.number) << c.text;
    EXPECT_EQ(found.bank, c.bank) << c.text;
  }
}

}  // namespace
