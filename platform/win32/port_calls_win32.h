// The port calls on Windows. The programs call the Win32 names as always; the
// defines below route the few calls that reach a serial port through here. A
// port whose name a registered device takes ("sim:...", the virtual receiver)
// is a device port (platform/device_port.h), whichever of these calls it
// meets; every other handle goes on to Windows, and what passes over a real
// port is traced when ORN_TRACE asks for it (wire_trace_win32.h).
#pragma once

#ifdef _WIN32

#include <windows.h>

HANDLE port_CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                        DWORD disposition, DWORD flags, HANDLE template_file);
BOOL port_WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                    LPOVERLAPPED overlapped);
BOOL port_WriteFileEx(HANDLE file, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                      LPOVERLAPPED_COMPLETION_ROUTINE completed);
BOOL port_SetCommConfig(HANDLE port, LPCOMMCONFIG config, DWORD size);
BOOL port_GetCommModemStatus(HANDLE port, LPDWORD status);
BOOL port_ReadFileEx(HANDLE file, LPVOID data, DWORD length, LPOVERLAPPED overlapped,
                     LPOVERLAPPED_COMPLETION_ROUTINE completed);
BOOL port_GetCommConfig(HANDLE port, LPCOMMCONFIG config, LPDWORD size);
BOOL port_SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL port_ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status);
BOOL port_CloseHandle(HANDLE handle);

// The files that implement these calls, and the device ports, call Windows
// itself.
#ifndef PORT_CALLS_WIN32_IMPLEMENTATION
#define CreateFileA port_CreateFileA
#define WriteFile port_WriteFile
#define WriteFileEx port_WriteFileEx
#define SetCommConfig port_SetCommConfig
#define GetCommModemStatus port_GetCommModemStatus
#define ReadFileEx port_ReadFileEx
#define GetCommConfig port_GetCommConfig
#define SetCommTimeouts port_SetCommTimeouts
#define ClearCommError port_ClearCommError
#define CloseHandle port_CloseHandle
#endif

#endif  // _WIN32
