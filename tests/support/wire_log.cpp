#include "tests/support/wire_log.h"

#include <algorithm>

#include <cstdlib>
#include <sstream>

#include "tests/support/files.h"

std::vector<WireEvent> parse_wire_log(const std::string &text) {
  std::vector<WireEvent> events;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    WireEvent e;
    fields >> e.us >> e.event;
    fields.get();  // the blank before the value, which may hold blanks itself
    std::getline(fields, e.value);
    events.push_back(e);
  }
  return events;
}

std::vector<WireEvent> read_wire_log(const std::string &path) {
  return parse_wire_log(read_text(path));
}

std::vector<WireEvent> only(const std::vector<WireEvent> &events, const std::string &kind) {
  std::vector<WireEvent> picked;
  for (const WireEvent &e : events)
    if (e.event == kind) picked.push_back(e);
  return picked;
}

namespace {
// A read of CV 1 bit by bit, then verifies of it: one pass of the check.
size_t check_pass_length(const std::vector<int> &bytes, size_t at) {
  size_t end = at;
  for (int mask = 1; mask <= 0x80; mask <<= 1, end += 4) {
    if (end + 4 > bytes.size()) return 0;
    std::vector<int> query = {0, 0, mask, 0xB0};
    if (!std::equal(query.begin(), query.end(), bytes.begin() + (long)end)) return 0;
  }
  while (end + 4 <= bytes.size() && bytes[end] == 0 && bytes[end + 1] == 0 &&
         bytes[end + 3] == 0xAF) {
    end += 4;
  }
  return end - at;
}
}  // namespace

size_t line_check_length(const std::vector<int> &bytes, size_t at) {
  // A second pass reads the value again, slowly, where the first did not get
  // its 16 pairs; after a full first pass, a read of CV 1 is a read.
  const size_t full_pass = (8 + 2 * 16) * 4;
  size_t first = check_pass_length(bytes, at);
  if (first == 0 || first >= full_pass) return first;
  return first + check_pass_length(bytes, at + first);
}

std::vector<int> sent_bytes(const std::vector<WireEvent> &events) {
  std::vector<int> bytes;
  for (const WireEvent &e : only(events, "TX"))
    bytes.push_back((int)strtol(e.value.c_str(), nullptr, 16));
  return bytes;
}
