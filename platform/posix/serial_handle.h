// What lies behind a serial handle of the POSIX stand-in: the device, the
// settings last applied, and the read requests waiting for the platform's I/O
// thread. Internal to serial_posix.cpp and overlapped_posix.cpp.
#pragma once

#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "serial_device.h"

struct CompletionQueue;

// One ReadFileEx request, from the moment it is queued until its completion
// routine has been handed to the issuing thread.
struct ReadRequest {
  BYTE *buffer;
  DWORD length;
  DWORD interval_ms;
  LPOVERLAPPED overlapped;
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  std::shared_ptr<CompletionQueue> issuer;
};

struct SerialPort {
  SerialDevice *device = nullptr;  // owned; deleted with the port
  std::mutex lock;                 // guards everything below but the atomics
  DCB dcb;
  COMMTIMEOUTS timeouts = {0, 0, 0, 0, 0};
  // The code of the read that found the device gone; from then on every read
  // is refused at once with it, so that a reader cannot spin on a dead port.
  std::atomic<DWORD> read_failure{0};

  // The I/O thread that runs the reads, started by the first ReadFileEx.
  std::condition_variable reads_changed;
  std::deque<ReadRequest> reads;
  bool io_thread_started = false;
  bool reading = false;  // the I/O thread is inside device->read
  bool closing = false;
  pthread_t io_thread;

  ~SerialPort() { delete device; }
};

// The port behind a handle; null (and ERROR_INVALID_HANDLE as last error) for
// anything else. The port stays alive while the caller holds the pointer.
std::shared_ptr<SerialPort> serial_port_of(HANDLE handle);

// Queues a completion routine for the thread that owns queue.
void completion_post(const std::shared_ptr<CompletionQueue> &queue,
                     LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD transferred,
                     LPOVERLAPPED overlapped);
// The calling thread's completion queue.
std::shared_ptr<CompletionQueue> completion_queue_of_this_thread(void);
// Ends the port's I/O thread: the read in progress and every waiting read
// complete with ERROR_OPERATION_ABORTED. Returns once the thread has ended.
void overlapped_close_port(SerialPort &port);

// Opens a tty or pseudo-terminal by path, exclusively, in raw mode with the
// default settings. Returns null and sets the last error on failure.
SerialDevice *tty_device_open(const char *path);
// Turns line settings into raw-mode termios settings, keeping the fields the
// settings do not speak of. Returns ERROR_INVALID_PARAMETER for settings no
// tty can take (unknown baud rate, byte size outside 5..8, ...).
DWORD serial_termios_from_dcb(const DCB &dcb, termios *t);
