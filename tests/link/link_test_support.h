// Helpers for the link tests: a port opened as open_port leaves it, and
// waiting for the reader. The pseudo-terminal pair and the wire log come from
// tests/support.
#pragma once

#include <unistd.h>

#include "link/line_check.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/wire_log.h"
#include "virtual_receiver/virtual_receiver.h"

// Opens a port as open_port leaves it (38400 8N1, DTR and RTS asserted), but
// without its reader; returns the virtual receiver behind it, or null.
inline VirtualReceiver *open_configured_port(const char *name) {
  port_handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port_handle == INVALID_HANDLE_VALUE) return nullptr;
  port_config_size = sizeof(COMMCONFIG);
  GetCommConfig(port_handle, &port_config, &port_config_size);
  apply_line_settings(&port_config.dcb, 38400, 8, 0, 1, 12, 12);
  SetCommConfig(port_handle, &port_config, port_config_size);
  line_check_forget();
  return virtual_receiver_of(port_handle);
}

inline unsigned counted_bytes(void) {
  EnterCriticalSection(&port_lock);
  unsigned count = received_count;
  LeaveCriticalSection(&port_lock);
  return count;
}

// Waits (real time) until the reader has counted want bytes.
inline bool wait_for_count(unsigned want, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 5) {
    if (counted_bytes() >= want) return true;
    usleep(5000);
  }
  return counted_bytes() >= want;
}
