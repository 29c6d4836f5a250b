// Helpers for the link tests: a pseudo-terminal pair, the virtual receiver's
// wire log as events, and waiting for the reader.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "platform/clock.h"
#include "virtual_receiver/virtual_receiver.h"

// ---------------------------------------------------------------- pseudo-terminal

struct PtyPair {
  int master = -1;
  std::string slave;
};

// Opens a port as open_port leaves it (38400 8N1, DTR and RTS asserted), but
// without its reader; returns the virtual receiver behind it, or null.
inline VirtualReceiver *open_configured_port(const char *name) {
  port_handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port_handle == INVALID_HANDLE_VALUE) return nullptr;
  port_config_size = sizeof(COMMCONFIG);
  GetCommConfig(port_handle, &port_config, &port_config_size);
  apply_line_settings(&port_config.dcb, 38400, 8, 0, 1, 12, 12);
  SetCommConfig(port_handle, &port_config, port_config_size);
  return virtual_receiver_of(port_handle);
}

inline PtyPair open_pty_pair(void) {
  PtyPair pair;
  pair.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pair.master < 0 || grantpt(pair.master) != 0 || unlockpt(pair.master) != 0) return pair;
  pair.slave = ptsname(pair.master);
  return pair;
}

// Writes all of data to fd, however the kernel splits it.
inline bool write_all(int fd, const unsigned char *data, size_t length) {
  while (length > 0) {
    ssize_t done = write(fd, data, length);
    if (done <= 0) return false;
    data += done;
    length -= (size_t)done;
  }
  return true;
}

// Reads exactly length bytes within timeout_ms; returns what arrived.
inline std::string read_some(int fd, size_t length, int timeout_ms) {
  std::string got;
  int64_t deadline = clock_now_us() + (int64_t)timeout_ms * 1000;
  while (got.size() < length && clock_now_us() < deadline) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buffer[4096];
    size_t want = length - got.size() < sizeof buffer ? length - got.size() : sizeof buffer;
    ssize_t n = read(fd, buffer, want);
    if (n <= 0) break;
    got.append(buffer, (size_t)n);
  }
  return got;
}

inline unsigned counted_bytes(void) {
  EnterCriticalSection(&port_lock);
  unsigned count = received_count;
  LeaveCriticalSection(&port_lock);
  return count;
}

// Waits (real time) until the reader has counted want bytes.
inline bool wait_for_count(unsigned want, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 5) {
    if (counted_bytes() >= want) return true;
    usleep(5000);
  }
  return counted_bytes() >= want;
}

// ---------------------------------------------------------------- wire log

struct WireEvent {
  int64_t us;
  std::string event;
  std::string value;
};

inline std::vector<WireEvent> parse_wire_log(const std::string &text) {
  std::vector<WireEvent> events;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    WireEvent e;
    fields >> e.us >> e.event;
    std::getline(fields >> std::ws, e.value);
    events.push_back(e);
  }
  return events;
}

inline std::vector<WireEvent> only(const std::vector<WireEvent> &events, const std::string &kind) {
  std::vector<WireEvent> picked;
  for (const WireEvent &e : events)
    if (e.event == kind) picked.push_back(e);
  return picked;
}

// The bytes of the TX events, as numbers.
inline std::vector<int> sent_bytes(const std::vector<WireEvent> &events) {
  std::vector<int> bytes;
  for (const WireEvent &e : only(events, "TX"))
    bytes.push_back((int)strtol(e.value.c_str(), nullptr, 16));
  return bytes;
}
