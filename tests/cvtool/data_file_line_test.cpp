// The data file line parser: which lines program which CV, and which message a
// refused line gets.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cvtool/data_file_line.h"

namespace {
const std::string no_equals = "%s: ung\x81ltige zeile: kein '='\n";
const std::string no_cv = "%s: ung\x81ltige zeile: keine CV-Nummer\n";
const std::string no_value = "%s: ung\x81ltige zeile: kein Wert\n";
const std::string cv_range = "%s: ung\x81ltige zeile: CV muss zwischen 1 und 256 liegen\n";
const std::string value_range = "%s: ung\x81ltige zeile: Wert muss zwischen 0 und 255 liegen\n";

struct LineCase {
  const char *line;
  std::string message;  // empty: the line is programmed
  int number, bank, value;
};

const LineCase line_cases[] = {
    // A read-out line and its binary comment.
    {"CV   3  =  12 (b0000 1100)", "", 3, 0, 12},
    {"CV   3a = 243 (b1111 0011)", "", 3, 1, 243},
    // Alternative CV 7 with 12, four spellings.
    {"CV 7a = 12", "", 7, 1, 12},
    {"7A=12", "", 7, 1, 12},
    {"CV7a= b0000 1100", "", 7, 1, 12},
    {"CV 7 a = b00001100", "", 7, 1, 12},
    // An "a" before the number does not make the CV alternative.
    {"aCV 7 = 12", "", 7, 0, 12},
    {"CV 0 = 5", cv_range, 0, 0, 0},
    {"CV 257 = 5", cv_range, 0, 0, 0},
    {"CV 256 = 5", "", 256, 0, 5},
    {"CV 1 = 0", "", 1, 0, 0},
    {"CV 5 = 255", "", 5, 0, 255},
    {"CV 5 = 256", value_range, 0, 0, 0},
    {"CV 5 = -1", value_range, 0, 0, 0},
    {"CV 5 = 99999999999999999999", value_range, 0, 0, 0},
    {"CV 99999999999999999999 = 5", cv_range, 0, 0, 0},
    // Only the last eight binary digits count; blanks between them are skipped.
    {"CV 5 = b1 0000 0001", "", 5, 0, 1},
    {"CV 5 = B11", "", 5, 0, 3},
    {"= 5", no_cv, 0, 0, 0},
    {"CV x = 5", no_cv, 0, 0, 0},
    {"CV 5 =", no_value, 0, 0, 0},
    {"CV 5 =    ", no_value, 0, 0, 0},
    {"CV 5 = b", no_value, 0, 0, 0},
    // A value part that holds no digit programs nothing.
    {"CV 5 = x", no_value, 0, 0, 0},
    {"CV 5 = bxy", no_value, 0, 0, 0},
    {"", no_equals, 0, 0, 0},
    {"CV   3: Lesefehler!", no_equals, 0, 0, 0},
    {"CV   3a: Lesefehler!", no_equals, 0, 0, 0},
    // The CV number begins at the first digit and ends where the digits do.
    {"CV 12x34 = 5", "", 12, 0, 5},
    {"CV 5 = 17 Kommentar = 3", "", 5, 0, 17},
};

TEST(DataFileLine, EachLineGivesItsCvOrItsMessage) {
  for (const LineCase &c : line_cases) {
    SCOPED_TRACE(c.line);
    int number = -1, bank = -1, value = -1;
    const char *message = parse_data_file_line(c.line, &number, &bank, &value);
    if (c.message.empty()) {
      ASSERT_EQ(message, nullptr) << message;
      EXPECT_EQ(number, c.number);
      EXPECT_EQ(bank, c.bank);
      EXPECT_EQ(value, c.value);
    } else {
      ASSERT_NE(message, nullptr);
      EXPECT_EQ(message, c.message);
      EXPECT_EQ(number, -1) << "a refused line must not hand out a CV";
    }
  }
}

// Writes bytes exactly as given, then reads the file back the way programming
// does, in text mode, parsing each line or piece.
std::vector<std::string> pieces_of(const std::string &bytes) {
  const char *name = "data_file_line_test.txt";
  FILE *out = fopen(name, "wb");
  EXPECT_NE(out, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
  FILE *in = fopen(name, "r");
  std::vector<std::string> pieces;
  char line[DATA_FILE_LINE_SIZE];
  while (read_data_file_line(in, line) == 0) pieces.push_back(line);
  fclose(in);
  remove(name);
  return pieces;
}

TEST(DataFileLine, LfAndCrLfLinesReadAlike) {
  std::vector<std::string> pieces = pieces_of("CV 5 = 7\r\nCV 6a = b101\nCV 7 = 9\r\n\r\n");
  ASSERT_EQ(pieces, (std::vector<std::string>{"CV 5 = 7", "CV 6a = b101", "CV 7 = 9", ""}));
  int number, bank, value;
  ASSERT_EQ(parse_data_file_line(pieces[0].c_str(), &number, &bank, &value), nullptr);
  EXPECT_EQ(value, 7);
  ASSERT_EQ(parse_data_file_line(pieces[1].c_str(), &number, &bank, &value), nullptr);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(parse_data_file_line(pieces[3].c_str(), &number, &bank, &value), no_equals);
}

TEST(DataFileLine, LongLineIsReadInPiecesOf999) {
  std::string first = "CV 3 = 4";
  first.resize(999, ' ');
  std::string second(999, 'x');
  std::string third = "CV 7a = 9";
  third.resize(502, '.');
  std::vector<std::string> pieces = pieces_of(first + second + third + "\nCV 8 = 1\n");
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0], first);
  EXPECT_EQ(pieces[1], second);
  EXPECT_EQ(pieces[2], third);
  int number = 0, bank = 0, value = 0;
  ASSERT_EQ(parse_data_file_line(pieces[0].c_str(), &number, &bank, &value), nullptr);
  EXPECT_EQ(number * 1000 + bank * 100 + value, 3004);
  EXPECT_EQ(parse_data_file_line(pieces[1].c_str(), &number, &bank, &value), no_equals);
  ASSERT_EQ(parse_data_file_line(pieces[2].c_str(), &number, &bank, &value), nullptr);
  EXPECT_EQ(number * 1000 + bank * 100 + value, 7109);
  ASSERT_EQ(parse_data_file_line(pieces[3].c_str(), &number, &bank, &value), nullptr);
  EXPECT_EQ(number, 8);
}
}  // namespace
