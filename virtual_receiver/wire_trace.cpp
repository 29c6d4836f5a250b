// The trace: one line per line event, "<us since open> <EVENT> <value>", kept
// in memory for tests and appended to DIR/wire.log as it happens.
#include <cstring>
#include <cstdarg>

#include "platform/wire_trace_text.h"
#include "virtual_receiver/receiver_state.h"

namespace {

const char *state_name(VrState state) {
  switch (state) {
    case VR_RUNNING:
      return "running";
    case VR_RESET:
      return "reset";
    case VR_SERVICE:
      return "service";
    case VR_BOOTLOADER:
      return "bootloader";
  }
  return "?";
}

}  // namespace

void vr_record(VirtualReceiver *vr, int64_t at_us, const char *event, const char *value) {
  char line[256];
  wire_trace_lines(line, sizeof line, (long long)(at_us - vr->opened_us), event, &value, 1);
  vr->trace += line;
  // A long session must not grow the memory for ever: the oldest half goes,
  // whole lines; DIR/wire.log keeps everything.
  if (vr->trace.size() > VR_TRACE_LIMIT) {
    size_t cut = vr->trace.find('\n', vr->trace.size() - VR_TRACE_LIMIT / 2);
    vr->trace.erase(0, cut + 1);
  }
  // One write per line: whoever reads the log while a program runs, or after
  // it was killed, sees every event so far. A full disk loses log lines,
  // never the receiver's state.
  if (vr->wire_log_fd >= 0) vr_append(vr->wire_log_fd, line, strlen(line));
}

void vr_error(VirtualReceiver *vr, int64_t at_us, const char *format, ...) {
  char words[200];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(words, sizeof words, format, arguments);
  va_end(arguments);
  ++vr->error_count;
  vr_record(vr, at_us, "ERR", words);
}

void vr_set_state(VirtualReceiver *vr, int64_t at_us, VrState state) {
  vr->state = state;
  vr_record(vr, at_us, "STATE", state_name(state));
}

std::string vr_line_settings_text(const VrLine &line) {
  char text[48];
  wire_trace_line_settings(line.baud, line.byte_size, line.parity, line.stop_bits, text,
                           sizeof text);
  return text;
}
