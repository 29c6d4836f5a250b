// The virtual receiver on Windows: the port shim (wire_trace_win32.cpp) hands
// every port call on a handle that CreateFileA opened with a "sim:" name to
// these, which drive the receiver model (virtual_receiver/) as the POSIX
// build's serial calls do. Completion routines run as on a real port: as APCs
// on the thread that queued the request, inside its alertable SleepEx.
#pragma once

#ifdef _WIN32

#include <windows.h>

// Whether name is a virtual receiver's ("sim:...").
bool sim_port_name(LPCSTR name);
// Opens the receiver; INVALID_HANDLE_VALUE and the last error on failure.
HANDLE sim_port_open(LPCSTR name);
// Whether handle is an open virtual receiver's.
bool sim_port_handle(HANDLE handle);

BOOL sim_port_close(HANDLE handle);
BOOL sim_port_write(HANDLE handle, LPCVOID data, DWORD length, LPDWORD written,
                    LPOVERLAPPED overlapped);
BOOL sim_port_write_ex(HANDLE handle, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE completed);
BOOL sim_port_read_ex(HANDLE handle, LPVOID data, DWORD length, LPOVERLAPPED overlapped,
                      LPOVERLAPPED_COMPLETION_ROUTINE completed);
BOOL sim_port_get_config(HANDLE handle, LPCOMMCONFIG config, LPDWORD size);
BOOL sim_port_set_config(HANDLE handle, LPCOMMCONFIG config, DWORD size);
BOOL sim_port_get_state(HANDLE handle, LPDCB dcb);
BOOL sim_port_set_state(HANDLE handle, LPDCB dcb);
BOOL sim_port_set_timeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);
BOOL sim_port_clear_error(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
BOOL sim_port_modem_status(HANDLE handle, LPDWORD status);

#endif  // _WIN32
