// What Windows gives the device ports (device_port_delivery.h): each port's
// handle is an event object, so that no other handle can have its value, and a
// completion routine reaches the thread that queued the request as an APC,
// inside its alertable SleepEx, as on a real port.
#define PORT_CALLS_WIN32_IMPLEMENTATION
#include "platform/device_port_delivery.h"

// A thread that APCs can be queued on from another thread.
struct CompletionTarget {
  HANDLE thread = nullptr;
  ~CompletionTarget() {
    if (thread != nullptr) CloseHandle(thread);
  }
};

namespace {

struct Completion {
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  DWORD error;
  DWORD transferred;
  LPOVERLAPPED overlapped;
};

void CALLBACK run_completion(ULONG_PTR param) {
  Completion *done = reinterpret_cast<Completion *>(param);
  done->overlapped->Internal = done->error;
  done->overlapped->InternalHigh = done->transferred;
  if (done->routine != nullptr) done->routine(done->error, done->transferred, done->overlapped);
  delete done;
}

std::shared_ptr<CompletionTarget> new_target(void) {
  auto target = std::make_shared<CompletionTarget>();
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                       &target->thread, THREAD_SET_CONTEXT, FALSE, 0)) {
    target->thread = nullptr;
  }
  return target;
}

}  // namespace

std::shared_ptr<CompletionTarget> completion_target_of_this_thread(void) {
  // One per thread, made at its first request: a write a byte costs no
  // handle. Shared, so that a read that ends after its thread has gone still
  // holds a handle to queue on (the APC then fails and is dropped).
  thread_local std::shared_ptr<CompletionTarget> mine = new_target();
  return mine->thread == nullptr ? nullptr : mine;
}

void completion_deliver(const std::shared_ptr<CompletionTarget> &target,
                        LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD transferred,
                        LPOVERLAPPED overlapped) {
  Completion *done = new Completion{routine, error, transferred, overlapped};
  if (!QueueUserAPC(run_completion, target->thread, reinterpret_cast<ULONG_PTR>(done))) {
    delete done;
  }
}

HANDLE device_port_new_handle(void) {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return handle == nullptr ? INVALID_HANDLE_VALUE : handle;
}

void device_port_free_handle(HANDLE handle) {
  CloseHandle(handle);
}
