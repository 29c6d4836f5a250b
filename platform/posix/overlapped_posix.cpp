// Overlapped I/O with completion routines on POSIX.
//
// As on Windows, a completion routine runs on the thread that queued the
// request, inside one of that thread's alertable SleepEx calls. Each thread has
// a completion queue; whoever finishes a transfer posts the routine there. The
// transfers themselves are the device ports' (platform/device_port.cpp).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/clock.h"
#include "platform/device_port.h"
#include "platform/device_port_delivery.h"
#include "platform/platform.h"

struct Completion {
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  DWORD error;
  DWORD transferred;
  LPOVERLAPPED overlapped;
};

// A thread's completion queue.
struct CompletionTarget {
  std::mutex lock;
  std::condition_variable posted;
  std::deque<Completion> items;
};

// ---------------------------------------------------------------- completion queues

std::shared_ptr<CompletionTarget> completion_target_of_this_thread(void) {
  // Shared, so that a transfer that ends after its thread has gone posts into
  // a queue that still exists.
  thread_local std::shared_ptr<CompletionTarget> queue = std::make_shared<CompletionTarget>();
  return queue;
}

void completion_deliver(const std::shared_ptr<CompletionTarget> &queue,
                        LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD transferred,
                        LPOVERLAPPED overlapped) {
  std::lock_guard<std::mutex> hold(queue->lock);
  queue->items.push_back(Completion{routine, error, transferred, overlapped});
  queue->posted.notify_all();
}

namespace {

// Runs every routine queued for this thread, in the order they were posted.
// Returns the number run.
int run_completions(CompletionTarget &queue, std::unique_lock<std::mutex> &hold) {
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
DWORD alertable_sleep_virtual(CompletionTarget &queue, DWORD ms) {
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

DWORD alertable_sleep_real(CompletionTarget &queue, DWORD ms) {
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
  CompletionTarget &queue = *completion_target_of_this_thread();
  if (clock_is_virtual()) return alertable_sleep_virtual(queue, ms);
  return alertable_sleep_real(queue, ms);
}

// ---------------------------------------------------------------- transfers

BOOL WriteFileEx(HANDLE handle, const void *buffer, DWORD length, LPOVERLAPPED overlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  return device_port_write_ex(handle, buffer, length, overlapped, routine);
}

BOOL ReadFileEx(HANDLE handle, void *buffer, DWORD length, LPOVERLAPPED overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  return device_port_read_ex(handle, buffer, length, overlapped, routine);
}
