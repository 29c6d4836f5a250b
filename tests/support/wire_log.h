// The virtual receiver's wire log (DIR/wire.log, or its trace in memory) as
// events: one line each, "MICROSECONDS EVENT VALUE".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WireEvent {
  int64_t us;
  std::string event;
  std::string value;
};

std::vector<WireEvent> parse_wire_log(const std::string &text);

// The log in the file at path; no events when there is none.
std::vector<WireEvent> read_wire_log(const std::string &path);

// The events of one kind ("TX", "DTR", ...), in order.
std::vector<WireEvent> only(const std::vector<WireEvent> &events, const std::string &kind);

// The bytes of the TX events, as numbers.
std::vector<int> sent_bytes(const std::vector<WireEvent> &events);

// How many of bytes, from at on, are tarvel's check of the line before its
// first read: CV 1 of the normal bank read bit by bit, then verifies of it
// only. 0 when no such check starts there.
size_t line_check_length(const std::vector<int> &bytes, size_t at);
