// The port name "sim:[DIR][?OPTION[,OPTION]...]" and its options.
#include <cstring>

#include "virtual_receiver/receiver_state.h"

namespace {

const char PREFIX[] = "sim:";

// A decimal number of at most nine digits (no sign): 0, or -1 when text is
// anything else.
int parse_count(const std::string &text, int64_t *value) {
  if (text.empty() || text.size() > 9) return -1;
  int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return 0;
}

int parse_flag(const std::string &option, VrOptions *options) {
  if (option == "absent") {
    options->absent = true;
  } else if (option == "stuck") {
    options->stuck = true;
  } else if (option == "instant") {
    options->instant = true;
  } else if (option == "cpu=8") {
    options->page_size = 64;
  } else if (option == "cpu=6") {
    options->page_size = 128;
  } else {
    return -1;
  }
  return 0;
}

// The options that take a number, and the least each allows.
const struct {
  const char *name;  // with its '='
  int64_t VrOptions::*field;
  int64_t least;
} NUMBERED[] = {
    {"fail=", &VrOptions::fail_every, 1},  {"unplug=", &VrOptions::unplug_after, 0},
    {"early=", &VrOptions::early_us, 0},   {"status=", &VrOptions::status_us, 0},
    {"tick=", &VrOptions::tick_us, 1},     {"tickdelay=", &VrOptions::tick_delay_us, 0},
    {"jitter=", &VrOptions::jitter_us, 0}, {"seed=", &VrOptions::seed, 0},
};

int parse_numbered(const std::string &option, VrOptions *options) {
  for (const auto &row : NUMBERED) {
    size_t length = strlen(row.name);
    if (option.compare(0, length, row.name) != 0) continue;
    int64_t value = 0;
    if (parse_count(option.substr(length), &value) != 0 || value < row.least) return -1;
    options->*row.field = value;
    return 0;
  }
  return -1;
}

int parse_option(const std::string &option, VrOptions *options) {
  if (parse_flag(option, options) == 0) return 0;
  return parse_numbered(option, options);
}

// Options, comma-separated; an empty one is a typing error, not nothing.
int parse_option_list(const std::string &list, VrOptions *options) {
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string option = list.substr(start, comma == std::string::npos ? comma : comma - start);
    if (parse_option(option, options) != 0) return -1;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  // A line cannot be held at DSR and be dead at once, and a report's delay
  // means nothing without the ticks it follows.
  if (options->absent && options->stuck) return -1;
  return options->tick_delay_us >= 0 && options->tick_us == 0 ? -1 : 0;
}

}  // namespace

bool vr_adapter_line(const VrOptions &options) {
  return options.early_us >= 0 || options.status_us >= 0 || options.tick_us > 0 ||
         options.jitter_us >= 0;
}

DWORD vr_parse_port_name(const char *name, VrOptions *options) {
  *options = VrOptions();
  if (name == nullptr || strncmp(name, PREFIX, sizeof PREFIX - 1) != 0) {
    return ERROR_FILE_NOT_FOUND;
  }
  std::string rest = name + sizeof PREFIX - 1;
  size_t question = rest.find('?');
  options->dir = rest.substr(0, question);
  if (question == std::string::npos) return ERROR_SUCCESS;
  if (parse_option_list(rest.substr(question + 1), options) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}
