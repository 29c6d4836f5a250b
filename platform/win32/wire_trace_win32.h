// The wire trace on Windows: with ORN_TRACE set to a file name, what passes
// over the serial port is appended to that file, one event a line
// ("<us since open> <EVENT> <value>"), the same lines as the virtual
// receiver's wire.log. Only the port that was opened last is traced. The port
// calls (port_calls_win32.h) tell the trace what happened; each call here
// keeps the caller's last error.
#pragma once

#ifdef _WIN32

#include <windows.h>

// After a port's CreateFileA succeeded: starts the trace on handle when
// ORN_TRACE asks for one, it was opened for writing and it is a serial port.
void wire_trace_opened(HANDLE handle, DWORD access);
// Whether handle is the traced port.
bool wire_trace_on(HANDLE handle);
// count bytes of data went out on a traced port.
void wire_trace_written(HANDLE handle, const void *data, DWORD count);
// WriteFileEx on the traced port: the bytes are traced as the write
// completes, then completed runs. Returns what WriteFileEx returned.
BOOL wire_trace_write_ex(HANDLE file, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                         LPOVERLAPPED_COMPLETION_ROUTINE completed);
// The line settings and DTR/RTS of a SetCommConfig that succeeded.
void wire_trace_settings(HANDLE handle, const DCB &dcb);
// What a GetCommModemStatus found: DSR, counted as not asserted when the
// call failed.
void wire_trace_modem_status(HANDLE handle, BOOL done, const DWORD *status);

#endif  // _WIN32
