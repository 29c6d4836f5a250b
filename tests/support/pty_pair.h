// A pseudo-terminal pair (POSIX): the slave side is the port or terminal under
// test, opened by path; the master side is its far end, where the test sees
// what was sent and sends what should arrive.
#pragma once

#include <cstddef>
#include <string>

class PtyPair {
 public:
  int master = -1;    // -1 when no pair could be made
  std::string slave;  // the slave side's path, /dev/pts/N

  PtyPair();  // opens a new pair; check ok()
  ~PtyPair();
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  bool ok() const { return master >= 0 && !slave.empty(); }
  // Closes the far end: the slave side sees a hang-up.
  void close_master();

  // What arrives on the master side: up to count bytes, waiting at most
  // timeout_ms (real time) for all of them.
  std::string receive(size_t count, int timeout_ms = 2000) const;
  bool send(const std::string &bytes) const;
};

// Writes all of data to fd, however the kernel splits it.
bool write_all(int fd, const unsigned char *data, size_t length);

// Reads up to length bytes from fd within timeout_ms (real time, whatever the
// program's clock); returns what arrived.
std::string read_some(int fd, size_t length, int timeout_ms);
