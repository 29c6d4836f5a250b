// The data file line parser: which lines program which CV, and which message a
// refused line gets.
#include <cstdio>
#include <ostream>
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
    {"CV 5 = x5", no_value, 0, 0, 0},
    {"CV 5 = b2", no_value, 0, 0, 0},
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

// A line as read back, with 1 for a line that was cut after 999 characters.
struct ReadLine {
  std::string text;
  int cut;
  bool operator==(const ReadLine &other) const { return text == other.text && cut == other.cut; }
};

std::ostream &operator<<(std::ostream &out, const ReadLine &line) {
  return out << "{\"" << line.text.substr(0, 40) << "\" (" << line.text.size() << "), " << line.cut
             << "}";
}

// Writes bytes exactly as given, then reads the file back the way programming
// does, in text mode.
std::vector<ReadLine> lines_of(const std::string &bytes) {
  const char *name = "data_file_line_test.txt";
  FILE *out = fopen(name, "wb");
  EXPECT_NE(out, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
  FILE *in = fopen(name, "r");
  std::vector<ReadLine> lines;
  char line[DATA_FILE_LINE_SIZE];
  int read;
  while ((read = read_data_file_line(in, line)) >= 0) lines.push_back({line, read});
  fclose(in);
  remove(name);
  return lines;
}

std::vector<std::string> pieces_of(const std::string &bytes) {
  std::vector<std::string> pieces;
  for (const ReadLine &line : lines_of(bytes)) pieces.push_back(line.text);
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

std::string padded(std::string text, size_t length, char fill) {
  text.resize(length, fill);
  return text;
}

struct LineEndCase {
  const char *what;
  std::string bytes;
  std::vector<ReadLine> lines;
};

// Every way a line can end, and lines at and past the 999 characters.
const std::vector<LineEndCase> line_end_cases = {
    {"lone CRs end lines (old editors)",
     "# Werte\rCV 100 = 99\rCV 137 = 99\r",
     {{"# Werte", 0}, {"CV 100 = 99", 0}, {"CV 137 = 99", 0}}},
    {"CR, LF and CR LF mixed; CR CR is an empty line",
     "a\rb\nc\r\nd\r\re",
     {{"a", 0}, {"b", 0}, {"c", 0}, {"d", 0}, {"", 0}, {"e", 0}}},
    {"LF CR is two line ends", "a\n\rb", {{"a", 0}, {"", 0}, {"b", 0}}},
    {"no line end at the end", "CV 1 = 2", {{"CV 1 = 2", 0}}},
    {"an empty file has no line", "", {}},
    {"exactly 999 characters, then LF",
     padded("CV 3 = 4", 999, ' ') + "\nCV 8 = 1\n",
     {{padded("CV 3 = 4", 999, ' '), 0}, {"CV 8 = 1", 0}}},
    {"exactly 999 characters, then CR LF",
     padded("x", 999, 'x') + "\r\nCV 8 = 1",
     {{padded("x", 999, 'x'), 0}, {"CV 8 = 1", 0}}},
    {"1000 characters: the rest is skipped, not a line",
     padded("CV 3 = 4", 999, ' ') + "7\nCV 8 = 1\n",
     {{padded("CV 3 = 4", 999, ' '), 1}, {"CV 8 = 1", 0}}},
    {"a long line with a CV in its rest programs nothing more",
     padded("CV 3 = 4", 999, ' ') + padded("", 999, 'x') + padded("CV 137 = 99", 502, '.') +
         "\rCV 8 = 1\r",
     {{padded("CV 3 = 4", 999, ' '), 1}, {"CV 8 = 1", 0}}},
    {"a long last line without a line end", padded("# ", 5000, '#'), {{padded("# ", 999, '#'), 1}}},
};

TEST(DataFileLine, EachLineEndAndOverlongLineReadsAsDecided) {
  for (const LineEndCase &c : line_end_cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(lines_of(c.bytes), c.lines);
  }
}

TEST(DataFileLine, TheRestOfALongLineIsNeverParsed) {
  // Today's pieces would have programmed CV 7 out of the rest.
  std::string line = padded("CV 3 = 4 Kommentar ", 990, '-') + "CV 137 = 99";
  std::vector<ReadLine> lines = lines_of(line + "\n");
  ASSERT_EQ(lines.size(), 1u);
  int number = 0, bank = 0, value = 0;
  ASSERT_EQ(parse_data_file_line(lines[0].text.c_str(), &number, &bank, &value), nullptr);
  EXPECT_EQ(number * 1000 + bank * 100 + value, 3004);
}
}  // namespace
