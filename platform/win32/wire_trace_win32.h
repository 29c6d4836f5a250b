// The wire trace on Windows: with ORN_TRACE set to a file name, what passes
// over the serial port is appended to that file, one event a line
// ("<us since open> <EVENT> <value>"), the same lines as the virtual
// receiver's wire.log. The programs call the Win32 names as always; the
// defines below route the few calls that touch the line through the trace,
// which passes every other handle straight on.
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
BOOL traced_SetCommState(HANDLE port, LPDCB dcb);
BOOL traced_GetCommModemStatus(HANDLE port, LPDWORD status);

#ifndef WIRE_TRACE_WIN32_IMPLEMENTATION
#define CreateFileA traced_CreateFileA
#define WriteFile traced_WriteFile
#define WriteFileEx traced_WriteFileEx
#define SetCommConfig traced_SetCommConfig
#define SetCommState traced_SetCommState
#define GetCommModemStatus traced_GetCommModemStatus
#endif

#endif  // _WIN32
