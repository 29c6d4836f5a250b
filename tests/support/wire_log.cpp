#include "tests/support/wire_log.h"

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

std::vector<int> sent_bytes(const std::vector<WireEvent> &events) {
  std::vector<int> bytes;
  for (const WireEvent &e : only(events, "TX"))
    bytes.push_back((int)strtol(e.value.c_str(), nullptr, 16));
  return bytes;
}
