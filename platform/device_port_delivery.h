// What each platform gives the device ports (device_port.cpp): handles of
// their own, and the delivery of completion routines to the thread that
// queued the request, inside its alertable SleepEx (POSIX: a queue per thread,
// overlapped_posix.cpp; Windows: an APC, device_port_win32.cpp).
// Internal to platform/.
#pragma once

#include <memory>

#include "platform/platform.h"

// A thread that completion routines can be delivered to.
struct CompletionTarget;

// The calling thread as a target. Null when it cannot be one.
std::shared_ptr<CompletionTarget> completion_target_of_this_thread(void);
// Has the routine run on target's thread, which then finds error and transferred
// in overlapped's Internal and InternalHigh as well.
void completion_deliver(const std::shared_ptr<CompletionTarget> &target,
                        LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error, DWORD transferred,
                        LPOVERLAPPED overlapped);

// A new handle value that no other open handle has. INVALID_HANDLE_VALUE when
// none can be made.
HANDLE device_port_new_handle(void);
// Gives back a value device_port_new_handle made.
void device_port_free_handle(HANDLE handle);
