// The wire trace on Windows: with ORN_TRACE set to a file name, what passes
// over the serial port is appended to that file, one event a line
// ("<us since open> <EVENT> <value>"), the same lines as the virtual
// receiver's wire.log. The programs call the Win32 names as always; the
// defines below route the few calls that touch the line through the trace,
// which passes every other handle straight on. The same shim attaches the
// plugged-in devices: a port whose name a registered device takes ("sim:...",
// the virtual receiver) is a device port (platform/device_port.h), whichever
// of these calls it meets.
#pragma once

#ifdef _WIN32

#include <windows.h>

HANDLE traced_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file);
BOOL traced_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                      LPOVERLAPPED overlapped);
BOOL traced_WriteFileEx(HANDLE file, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                        LPOVERLAPPED_COMPLETION_ROUTINE completed);
BOOL traced_SetCommConfig(HANDLE port, LPCOMMCONFIG config, DWORD size);
BOOL traced_GetCommModemStatus(HANDLE port, LPDWORD status);
BOOL traced_ReadFileEx(HANDLE file, LPVOID data, DWORD length, LPOVERLAPPED overlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE completed);
BOOL traced_GetCommConfig(HANDLE port, LPCOMMCONFIG config, LPDWORD size);
BOOL traced_SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL traced_ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status);
BOOL traced_CloseHandle(HANDLE handle);

#ifndef WIRE_TRACE_WIN32_IMPLEMENTATION
#define CreateFileA traced_CreateFileA
#define WriteFile traced_WriteFile
#define WriteFileEx traced_WriteFileEx
#define SetCommConfig traced_SetCommConfig
#define GetCommModemStatus traced_GetCommModemStatus
#define ReadFileEx traced_ReadFileEx
#define GetCommConfig traced_GetCommConfig
#define SetCommTimeouts traced_SetCommTimeouts
#define ClearCommError traced_ClearCommError
#define CloseHandle traced_CloseHandle
#endif

#endif  // _WIN32
