// The data file line parser: which lines program which CV, which refusal a
// line gets, and the one message about a refused line.
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cvtool/data_file_line.h"

namespace {
const int ok = DATA_LINE_CV;
const int blank = DATA_LINE_BLANK;
const int no_equals = DATA_LINE_NO_EQUALS;
const int no_cv = DATA_LINE_NO_CV;
const int no_value = DATA_LINE_NO_VALUE;
const int cv_range = DATA_LINE_CV_RANGE;
const int value_range = DATA_LINE_VALUE_RANGE;

struct LineCase {
  const char *line;
  int verdict;
  int number, bank, value;
};

const LineCase line_cases[] = {
    // A read-out line and its binary comment.
    {"CV   3  =  12 (b0000 1100)", ok, 3, 0, 12},
    {"CV   3a = 243 (b1111 0011)", ok, 3, 1, 243},
    // Alternative CV 7 with 12, four spellings.
    {"CV 7a = 12", ok, 7, 1, 12},
    {"7A=12", ok, 7, 1, 12},
    {"CV7a= b0000 1100", ok, 7, 1, 12},
    {"CV 7 a = b00001100", ok, 7, 1, 12},
    // An "a" before the number does not make the CV alternative.
    {"aCV 7 = 12", ok, 7, 0, 12},
    {"CV 0 = 5", cv_range, 0, 0, 0},
    {"CV 257 = 5", cv_range, 0, 0, 0},
    {"CV 256 = 5", ok, 256, 0, 5},
    {"CV 1 = 0", ok, 1, 0, 0},
    {"CV 5 = 255", ok, 5, 0, 255},
    {"CV 5 = 256", value_range, 0, 0, 0},
    {"CV 5 = -1", value_range, 0, 0, 0},
    {"CV 5 = 99999999999999999999", value_range, 0, 0, 0},
    {"CV 99999999999999999999 = 5", cv_range, 0, 0, 0},
    // Only the last eight binary digits count; blanks between them are skipped.
    {"CV 5 = b1 0000 0001", ok, 5, 0, 1},
    {"CV 5 = B11", ok, 5, 0, 3},
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
    {"", blank, 0, 0, 0},
    {" \t ", blank, 0, 0, 0},
    {"\x1b", no_equals, 0, 0, 0},
    {"\f", no_equals, 0, 0, 0},
    {"CV   3: Lesefehler!", no_equals, 0, 0, 0},
    {"CV   3a: Lesefehler!", no_equals, 0, 0, 0},
    // The CV number begins at the first digit and ends where the digits do.
    {"CV 12x34 = 5", ok, 12, 0, 5},
    {"CV 5 = 17 Kommentar = 3", ok, 5, 0, 17},
};

TEST(DataFileLine, EachLineGivesItsCvOrItsRefusal) {
  for (const LineCase &c : line_cases) {
    SCOPED_TRACE(c.line);
    DataLine found = {-1, -1, -1};
    int verdict = parse_data_file_line(c.line, &found);
    EXPECT_EQ(verdict, c.verdict);
    if (c.verdict == ok) {
      EXPECT_EQ(found.number, c.number);
      EXPECT_EQ(found.bank, c.bank);
      EXPECT_EQ(found.value, c.value);
    } else {
      EXPECT_EQ(found.number, -1) << "a refused line must not hand out a CV";
    }
  }
}

struct RefusalCase {
  const char *what;
  int verdict;
  const char *line;
  unsigned line_number;  // 0: the menu's message, without the number
  std::string message;
};

// The program's words in code page 850 (their ü is 0x81), the line's text
// with its controls as glyphs whatever the message is for.
const RefusalCase refusal_cases[] = {
    {"the menu's five texts", no_equals, "hallo", 0, "hallo: ung\x81ltige zeile: kein '='\n"},
    {"", no_cv, "= 5", 0, "= 5: ung\x81ltige zeile: keine CV-Nummer\n"},
    {"", no_value, "CV 5 =", 0, "CV 5 =: ung\x81ltige zeile: kein Wert\n"},
    {"", cv_range, "CV 300 = 1", 0,
     "CV 300 = 1: ung\x81ltige zeile: CV muss zwischen 1 und 256 liegen\n"},
    {"", value_range, "CV 6 = 300", 0,
     "CV 6 = 300: ung\x81ltige zeile: Wert muss zwischen 0 und 255 liegen\n"},
    {"the menu refuses a blank line as one without '='", blank, "", 0,
     ": ung\x81ltige zeile: kein '='\n"},
    {"a job names the line", cv_range, "CV 300 = 1", 12,
     "Zeile 12: CV 300 = 1: ung\x81ltige zeile: CV muss zwischen 1 und 256 liegen\n"},
    {"ESC and BEL as glyphs", no_equals, "a\x1b[2J\a", 3,
     "Zeile 3: a\xe2\x86\x90[2J\xe2\x80\xa2: ung\x81ltige zeile: kein '='\n"},
    {"an OSC that sets the title", value_range, "CV 6 = 300\x1b]0;Titel\a", 0,
     "CV 6 = 300\xe2\x86\x90]0;Titel\xe2\x80\xa2: ung\x81ltige zeile: Wert muss zwischen 0 und "
     "255 liegen\n"},
    {"a C1 CSI as UTF-8", no_cv,
     "\xc2\x9b"
     "8m = 1",
     4294967295u,
     "Zeile 4294967295: \xe2\x94\xac\xc3\xb8"
     "8m = 1: ung\x81ltige zeile: keine CV-Nummer\n"},
    {"a percent sign is text", no_equals, "100%s%n", 1,
     "Zeile 1: 100%s%n: ung\x81ltige zeile: kein '='\n"},
    {"a long line says only its number", DATA_LINE_TOO_LONG, "\x1b]0;x\a", 7,
     "Zeile 7 zu lang (mehr als 999 Zeichen): nicht programmiert\n"},
    {"the largest number", DATA_LINE_TOO_LONG, "", 4294967295u,
     "Zeile 4294967295 zu lang (mehr als 999 Zeichen): nicht programmiert\n"},
};

TEST(DataFileLine, ARefusedLineGetsItsMessageWithItsTextShown) {
  for (const RefusalCase &c : refusal_cases) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.line);
    EXPECT_EQ(data_line_refusal(c.verdict, c.line, c.line_number), c.message);
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
  DataLine found;
  ASSERT_EQ(parse_data_file_line(pieces[0].c_str(), &found), ok);
  EXPECT_EQ(found.value, 7);
  ASSERT_EQ(parse_data_file_line(pieces[1].c_str(), &found), ok);
  EXPECT_EQ(found.value, 5);
  EXPECT_EQ(parse_data_file_line(pieces[3].c_str(), &found), blank);
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
  DataLine found = {0, 0, 0};
  ASSERT_EQ(parse_data_file_line(lines[0].text.c_str(), &found), ok);
  EXPECT_EQ(found.number * 1000 + found.bank * 100 + found.value, 3004);
}
}  // namespace
