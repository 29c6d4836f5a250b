// Overlapped I/O with completion routines on POSIX.
//
// As on Windows, a completion routine runs on the thread that queued the
// request, inside one of that thread's alertable SleepEx calls. Each thread has
// a completion queue; whoever finishes a transfer posts the routine there.
// Writes run at once on the calling thread (a write returns only once its bytes
// have left anyway) and post their routine; reads run on one I/O thread per
// port, so that ReadFileEx returns at once and the read may stay pending.
#include <chrono>
#include <cstring>

#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/posix/serial_handle.h"

// Windows keeps the request's status in Internal while it is pending.
#define STATUS_PENDING 0x103

struct Completion {
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  DWORD error;
  DWORD transferred;
  LPOVERLAPPED overlapped;
};

struct CompletionQueue {
  std::mutex lock;
  std::condition_variable posted;
  std::deque<Completion> items;
};

// ---------------------------------------------------------------- completion queues

std::shared_ptr<CompletionQueue> completion_queue_of_this_thread(void) {
  // Shared, so that a transfer that ends after its thread has gone posts into
  // a queue that still exists.
  thread_local std::shared_ptr<CompletionQueue> queue = std::make_shared<CompletionQueue>();
  return queue;
}

void completion_post(const std::shared_ptr<CompletionQueue> &queue,
                     LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD transferred,
                     LPOVERLAPPED overlapped) {
  std::lock_guard<std::mutex> hold(queue->lock);
  queue->items.push_back(Completion{routine, error, transferred, overlapped});
  queue->posted.notify_all();
}

namespace {

// Runs every routine queued for this thread, in the order they were posted.
// Returns the number run.
int run_completions(CompletionQueue &queue, std::unique_lock<std::mutex> &hold) {
  int count = 0;
  while (!queue.items.empty()) {
    Completion done = queue.items.front();
    queue.items.pop_front();
    hold.unlock();
    done.overlapped->Internal = done.error;
    done.overlapped->InternalHigh = done.transferred;
    if (done.routine != nullptr) done.routine(done.error, done.transferred, done.overlapped);
    count++;
    hold.lock();
  }
  return count;
}

// On the virtual clock a pause only moves the clock; routines that are already
// queued run, but nothing waits in real time.
DWORD alertable_sleep_virtual(CompletionQueue &queue, DWORD ms) {
  std::unique_lock<std::mutex> hold(queue.lock);
  if (run_completions(queue, hold) > 0) return WAIT_IO_COMPLETION;
  if (ms == INFINITE) {
    queue.posted.wait(hold, [&] { return !queue.items.empty(); });
  } else {
    hold.unlock();
    clock_sleep_us((int64_t)ms * 1000);
    hold.lock();
  }
  return run_completions(queue, hold) > 0 ? WAIT_IO_COMPLETION : 0;
}

DWORD alertable_sleep_real(CompletionQueue &queue, DWORD ms) {
  int64_t deadline_us = clock_now_us() + (int64_t)ms * 1000;
  std::unique_lock<std::mutex> hold(queue.lock);
  for (;;) {
    if (run_completions(queue, hold) > 0) return WAIT_IO_COMPLETION;
    if (ms == INFINITE) {
      queue.posted.wait(hold);
      continue;
    }
    int64_t left_us = deadline_us - clock_now_us();
    if (left_us <= 0) return 0;
    queue.posted.wait_for(hold, std::chrono::microseconds(left_us));
  }
}

}  // namespace

DWORD SleepEx(DWORD ms, BOOL alertable) {
  if (!alertable) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  CompletionQueue &queue = *completion_queue_of_this_thread();
  if (clock_is_virtual()) return alertable_sleep_virtual(queue, ms);
  return alertable_sleep_real(queue, ms);
}

// ---------------------------------------------------------------- writes

namespace {

// The port behind a queued request, or null (last error set) when the handle
// or the request is no good.
std::shared_ptr<SerialPort> port_of_request(HANDLE handle, const void *buffer, DWORD length,
                                            LPOVERLAPPED overlapped) {
  std::shared_ptr<SerialPort> port = serial_port_of(handle);
  if (port == nullptr) return nullptr;
  if (overlapped == nullptr || (buffer == nullptr && length > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return port;
}

}  // namespace

BOOL WriteFileEx(HANDLE handle, const void *buffer, DWORD length, LPOVERLAPPED overlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  std::shared_ptr<SerialPort> port = port_of_request(handle, buffer, length, overlapped);
  if (port == nullptr) return FALSE;
  overlapped->Internal = STATUS_PENDING;
  DWORD written = 0;
  DWORD error = port->device->write(static_cast<const BYTE *>(buffer), length, &written);
  // The request was taken; how it ended is the routine's to hear.
  completion_post(completion_queue_of_this_thread(), routine, error, written, overlapped);
  return TRUE;
}

// ---------------------------------------------------------------- reads

namespace {

// Runs one read; records a device that has gone so that later reads are refused.
void run_read(SerialPort &port, ReadRequest &request) {
  DWORD got = 0;
  DWORD error = port.device->read(request.buffer, request.length, request.interval_ms, &got);
  if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
    DWORD none = 0;
    port.read_failure.compare_exchange_strong(none, error);
  }
  completion_post(request.issuer, request.routine, error, got, request.overlapped);
}

void *io_thread_main(void *port_param) {
  SerialPort &port = *static_cast<SerialPort *>(port_param);
  std::unique_lock<std::mutex> hold(port.lock);
  for (;;) {
    port.reads_changed.wait(hold, [&] { return port.closing || !port.reads.empty(); });
    if (port.closing) break;
    ReadRequest request = port.reads.front();
    port.reads.pop_front();
    port.reading = true;
    hold.unlock();
    run_read(port, request);
    hold.lock();
    port.reading = false;
    port.reads_changed.notify_all();
  }
  // Reads that never started end as Windows ends them on close.
  for (ReadRequest &request : port.reads) {
    completion_post(request.issuer, request.routine, ERROR_OPERATION_ABORTED, 0,
                    request.overlapped);
  }
  port.reads.clear();
  return nullptr;
}

// Starts the port's I/O thread unless it runs. Expects port.lock held.
DWORD start_io_thread(SerialPort &port) {
  if (port.io_thread_started) return ERROR_SUCCESS;
  if (pthread_create(&port.io_thread, nullptr, io_thread_main, &port) != 0) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  port.io_thread_started = true;
  return ERROR_SUCCESS;
}

}  // namespace

BOOL ReadFileEx(HANDLE handle, void *buffer, DWORD length, LPOVERLAPPED overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  std::shared_ptr<SerialPort> port = port_of_request(handle, buffer, length, overlapped);
  if (port == nullptr) return FALSE;
  DWORD failure = port->read_failure.load();
  if (failure != ERROR_SUCCESS) {
    SetLastError(failure);
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(port->lock);
  DWORD error = start_io_thread(*port);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  overlapped->Internal = STATUS_PENDING;
  port->reads.push_back(ReadRequest{static_cast<BYTE *>(buffer), length,
                                    port->timeouts.ReadIntervalTimeout, overlapped, routine,
                                    completion_queue_of_this_thread()});
  port->reads_changed.notify_all();
  return TRUE;
}

void overlapped_close_port(SerialPort &port) {
  std::unique_lock<std::mutex> hold(port.lock);
  if (!port.io_thread_started) return;
  port.closing = true;
  port.reads_changed.notify_all();
  // A read may be just about to start when the cancel comes, so cancel until
  // the thread is out of the device.
  while (port.reading) {
    port.device->cancel_reads();
    port.reads_changed.wait_for(hold, std::chrono::milliseconds(10));
  }
  hold.unlock();
  pthread_join(port.io_thread, nullptr);
}
