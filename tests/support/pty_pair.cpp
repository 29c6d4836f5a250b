#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

PtyPair::PtyPair() {
  // Close-on-exec: a program the test starts must not hold the far end open.
  master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
}

PtyPair::~PtyPair() {
  close_master();
}

void PtyPair::close_master() {
  if (master >= 0) close(master);
  master = -1;
}

std::string PtyPair::receive(size_t count, int timeout_ms) const {
  return read_some(master, count, timeout_ms);
}

bool PtyPair::send(const std::string &bytes) const {
  return write_all(master, (const unsigned char *)bytes.data(), bytes.size());
}

bool write_all(int fd, const unsigned char *data, size_t length) {
  while (length > 0) {
    ssize_t done = write(fd, data, length);
    if (done <= 0) return false;
    data += done;
    length -= (size_t)done;
  }
  return true;
}

std::string read_some(int fd, size_t length, int timeout_ms) {
  using std::chrono::steady_clock;
  std::string got;
  steady_clock::time_point deadline = steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (got.size() < length && steady_clock::now() < deadline) {
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
