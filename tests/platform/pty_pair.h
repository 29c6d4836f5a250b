// A pseudo-terminal pair for the stand-in's tests: the slave side is opened
// through CreateFileA like a serial port, the master side is the far end of
// the line, where the test sees what was sent and sends what should arrive.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/clock.h"

struct PtyPair {
  int master = -1;
  std::string slave_path;

  PtyPair() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
      slave_path = ptsname(master);
    }
  }
  ~PtyPair() { close_master(); }
  void close_master() {
    if (master >= 0) close(master);
    master = -1;
  }
  bool ok() const { return master >= 0 && !slave_path.empty(); }

  // What arrives on the master side: up to count bytes, waiting at most
  // timeout_ms for all of them.
  std::string receive(size_t count, int timeout_ms = 2000) const {
    std::string got;
    int64_t deadline_us = clock_now_us() + (int64_t)timeout_ms * 1000;
    while (got.size() < count) {
      int left_ms = (int)((deadline_us - clock_now_us()) / 1000);
      pollfd in = {master, POLLIN, 0};
      if (left_ms <= 0 || poll(&in, 1, left_ms) <= 0) break;
      char buffer[512];
      size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
      ssize_t n = read(master, buffer, want);
      if (n <= 0) break;
      got.append(buffer, (size_t)n);
    }
    return got;
  }

  bool send(const std::string &bytes) const {
    return write(master, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
  }
};
