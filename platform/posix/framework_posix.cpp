// The application framework on POSIX: nothing to prepare, worker threads
// from pthreads, and no file dialog.
#include <pthread.h>

#include "platform/platform.h"

namespace {

// What the new thread runs; the thread frees it, so that releasing the thread
// object never races with the thread's start.
struct ThreadStart {
  framework_thread_proc proc;
  void *param;
};

struct ThreadObject {
  pthread_t thread;
};

void *thread_entry(void *start_param) {
  ThreadStart start = *static_cast<ThreadStart *>(start_param);
  delete static_cast<ThreadStart *>(start_param);
  start.proc(start.param);
  return nullptr;
}

}  // namespace

int framework_init(void) {
  return 0;
}

void *framework_begin_thread(framework_thread_proc proc, void *param) {
  // Default attributes: the default stack and the creator's scheduling, which
  // is the normal priority; the thread runs at once.
  ThreadStart *start = new ThreadStart{proc, param};
  ThreadObject *object = new ThreadObject;
  if (pthread_create(&object->thread, nullptr, thread_entry, start) != 0) {
    delete start;
    delete object;
    return nullptr;
  }
  return object;
}

void framework_release_thread(void *thread) {
  if (thread == nullptr) return;
  ThreadObject *object = static_cast<ThreadObject *>(thread);
  // The thread runs on until the process ends; only the object goes.
  pthread_detach(object->thread);
  delete object;
}

// A terminal has no dialog; the program asks on its console instead.
int framework_select_file(char *, size_t) {
  return FRAMEWORK_NO_DIALOG;
}
