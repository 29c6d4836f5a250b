#include "cvtool/data_file_line.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cvtool/binary_text.h"
#include "services/shown_text.h"

namespace {
// Takes the line end that c starts; an LF after a CR belongs to it.
void take_line_end(FILE *file, int c) {
  if (c != '\r') return;
  int next = getc(file);
  if (next != '\n' && next != EOF) ungetc(next, file);
}

// Reads up to the end of the line; the characters are dropped.
void skip_rest_of_line(FILE *file) {
  int c;
  while ((c = getc(file)) != EOF && c != '\n' && c != '\r') {
  }
  take_line_end(file, c);
}
}  // namespace

int read_data_file_line(FILE *file, char line[DATA_FILE_LINE_SIZE]) {
  size_t length = 0;
  int c = getc(file);
  if (c == EOF) return -1;
  while (c != EOF && c != '\n' && c != '\r') {
    if (length == DATA_FILE_LINE_SIZE - 1) {
      line[length] = '\0';
      ungetc(c, file);
      skip_rest_of_line(file);
      return 1;
    }
    line[length++] = (char)c;
    c = getc(file);
  }
  line[length] = '\0';
  // Like fgets: a line that a read error cut off is not a line.
  if (c == EOF && ferror(file)) return -1;
  take_line_end(file, c);
  return 0;
}

namespace {
// atoi's reading of a number, but a number too big for an int is clamped
// instead of being undefined, so that it fails the range check.
int clamped_decimal(const char *text) {
  long number = strtol(text, nullptr, 10);
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return (int)number;
}

// Whether the conversion of the value part reads any digit at all; a part
// without one would silently program 0.
bool value_has_digit(const char *text, bool binary) {
  if (binary) return strpbrk(text, "01") != nullptr;
  while (isspace((unsigned char)*text)) text++;
  if (*text == '+' || *text == '-') text++;
  return *text >= '0' && *text <= '9';
}

bool cv_part_names_alternative(const char *first_digit, const char *end) {
  for (const char *c = first_digit; c < end; c++) {
    if (*c == 'a' || *c == 'A') return true;
  }
  return false;
}

// Nothing but spaces and tabs: a line that asks for nothing.
bool is_blank(const char *line) {
  return line[strspn(line, " \t")] == '\0';
}
}  // namespace

int parse_cv_name(const char *text, const char *end, DataLine *found) {
  const char *first_digit = text;
  while (first_digit < end && !(*first_digit >= '0' && *first_digit <= '9')) first_digit++;
  if (first_digit == end) return DATA_LINE_NO_CV;
  int cv = clamped_decimal(first_digit);
  if (cv < 1 || cv > 256) return DATA_LINE_CV_RANGE;
  found->number = cv;
  found->bank = cv_part_names_alternative(first_digit, end) ? 1 : 0;
  return DATA_LINE_CV;
}

int parse_data_file_line(const char *line, DataLine *found) {
  const char *equals = strchr(line, '=');
  if (equals == nullptr) return is_blank(line) ? DATA_LINE_BLANK : DATA_LINE_NO_EQUALS;
  DataLine cv;
  int cv_verdict = parse_cv_name(line, equals, &cv);
  if (cv_verdict == DATA_LINE_NO_CV) return cv_verdict;
  const char *value_part = equals + 1;
  while (*value_part == ' ') value_part++;
  bool binary = *value_part == 'b' || *value_part == 'B';
  if (binary) value_part++;
  if (!value_has_digit(value_part, binary)) return DATA_LINE_NO_VALUE;
  // A wrong number weighs more than a wrong value.
  if (cv_verdict != DATA_LINE_CV) return cv_verdict;
  int parsed = binary ? binary_parse(value_part) : clamped_decimal(value_part);
  if (parsed < 0 || parsed > 255) return DATA_LINE_VALUE_RANGE;
  found->number = cv.number;
  found->bank = cv.bank;
  found->value = parsed;
  return DATA_LINE_CV;
}

const char *data_line_reason(int verdict) {
  switch (verdict) {
    case DATA_LINE_NO_CV:
      return "keine CV-Nummer";
    case DATA_LINE_NO_VALUE:
      return "kein Wert";
    case DATA_LINE_CV_RANGE:
      return "CV muss zwischen 1 und 256 liegen";
    case DATA_LINE_VALUE_RANGE:
      return "Wert muss zwischen 0 und 255 liegen";
    default:
      return "kein '='";
  }
}

std::string data_line_refusal(int verdict, const char *line, unsigned line_number) {
  char number[96] = "";
  if (verdict == DATA_LINE_TOO_LONG) {
    snprintf(number, sizeof number, "Zeile %u zu lang (mehr als %d Zeichen): nicht programmiert\n",
             line_number, DATA_FILE_LINE_SIZE - 1);
    return number;
  }
  if (line_number != 0) snprintf(number, sizeof number, "Zeile %u: ", line_number);
  return number + shown_text(line) + ": ung\x81ltige zeile: " + data_line_reason(verdict) + "\n";
}
