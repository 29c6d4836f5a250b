// The text of cvs.txt: one line per CV in the CV tool's read-out format,
//   CV  29  =   6 (b0000 0110)
//   CV  29a = 249 (b1111 1001)
// the 256 normal CVs first, then the 256 alternative ones.
#include <cstring>

#include "virtual_receiver/receiver_state.h"

namespace {

void binary_text_of(int value, char text[10]) {
  int at = 0;
  for (int bit = 7; bit >= 0; --bit) {
    text[at++] = (value >> bit) & 1 ? '1' : '0';
    if (bit == 4) text[at++] = ' ';
  }
  text[at] = '\0';
}

// A cursor over one line of the file.
struct LineReader {
  const char *at;
  const char *end;
};

void skip_blanks(LineReader *r) {
  while (r->at < r->end && *r->at == ' ') ++r->at;
}

bool take(LineReader *r, char c) {
  if (r->at < r->end && *r->at == c) {
    ++r->at;
    return true;
  }
  return false;
}

// At most three digits.
int take_number(LineReader *r) {
  int value = 0;
  int digits = 0;
  while (r->at < r->end && *r->at >= '0' && *r->at <= '9' && digits < 4) {
    value = value * 10 + (*r->at++ - '0');
    ++digits;
  }
  return digits == 0 || digits > 3 ? -1 : value;
}

// "(b0000 0110)": binary digits and blanks that give value. Optional, as
// a hand-edited file may drop it; when it is there it must agree.
bool binary_comment_agrees(LineReader *r, int value) {
  if (!take(r, '(')) return true;
  if (!take(r, 'b')) return false;
  int parsed = 0;
  int digits = 0;
  for (; r->at < r->end && *r->at != ')'; ++r->at) {
    if (*r->at == ' ') continue;
    if (*r->at != '0' && *r->at != '1') return false;
    parsed = (parsed << 1 | (*r->at - '0')) & 0xFF;
    ++digits;
  }
  return take(r, ')') && digits > 0 && parsed == value;
}

// One line: 0 with its bank, CV and value, or -1.
int parse_line(LineReader r, int *bank, int *cv, int *value) {
  while (r.end > r.at && (r.end[-1] == '\r' || r.end[-1] == ' ')) --r.end;
  if (!take(&r, 'C') || !take(&r, 'V')) return -1;
  skip_blanks(&r);
  *cv = take_number(&r);
  *bank = take(&r, 'a') ? 1 : 0;
  skip_blanks(&r);
  if (*cv < 1 || *cv > VR_CV_COUNT || !take(&r, '=')) return -1;
  skip_blanks(&r);
  *value = take_number(&r);
  if (*value < 0 || *value > 255) return -1;
  skip_blanks(&r);
  if (!binary_comment_agrees(&r, *value)) return -1;
  return r.at == r.end ? 0 : -1;
}

}  // namespace

void vr_factory_cvs(uint8_t cvs[2][VR_CV_COUNT]) {
  for (int n = 1; n <= VR_CV_COUNT; ++n) {
    cvs[0][n - 1] = (uint8_t)(n - 1);
    cvs[1][n - 1] = (uint8_t)(255 - (n - 1));
  }
}

std::string vr_format_cvs(const uint8_t cvs[2][VR_CV_COUNT]) {
  std::string text;
  char line[64];
  char binary[10];
  for (int bank = 0; bank < 2; ++bank) {
    for (int n = 1; n <= VR_CV_COUNT; ++n) {
      int value = cvs[bank][n - 1];
      binary_text_of(value, binary);
      snprintf(line, sizeof line, bank ? "CV %3da = %3d (b%s)\n" : "CV %3d  = %3d (b%s)\n", n,
               value, binary);
      text += line;
    }
  }
  return text;
}

int vr_parse_cvs(const std::string &text, uint8_t cvs[2][VR_CV_COUNT]) {
  bool seen[2][VR_CV_COUNT] = {};
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t newline = text.find('\n', start);
    if (newline == std::string::npos) newline = text.size();
    LineReader line = {text.data() + start, text.data() + newline};
    start = newline + 1;
    int bank, cv, value;
    if (parse_line(line, &bank, &cv, &value) != 0 || seen[bank][cv - 1]) return -1;
    seen[bank][cv - 1] = true;
    cvs[bank][cv - 1] = (uint8_t)value;
    ++count;
  }
  return count == 2 * VR_CV_COUNT ? 0 : -1;
}
