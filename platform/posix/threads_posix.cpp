// Critical sections on POSIX. A Win32 critical section may be entered again by
// the thread that holds it, so it is a recursive mutex here.
#include <mutex>

#include "platform/platform.h"

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  section->lock = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex *>(section->lock)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex *>(section->lock)->unlock();
}
