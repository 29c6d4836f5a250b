// The Win32 names the two programs call, for POSIX systems.
//
// This is a stand-in, not an emulator: it declares exactly the calls, types and
// constants that tarvel and morrex use, with the layout and values Windows gives
// them, and implements the behaviour the programs rely on. When a program needs a
// new call, add that one call here and in the matching .cpp file.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------- basic types
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;  // 32 bits, as on Windows (not unsigned long)
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef char CHAR;
typedef uint16_t WCHAR;
typedef unsigned int UINT;
typedef uintptr_t ULONG_PTR;
typedef void *HANDLE;
typedef void *LPVOID;
typedef void *HMODULE;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef DWORD *LPDWORD;
typedef void VOID;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_IO_COMPLETION 0x000000C0u

// ---------------------------------------------------------------- error codes
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_BAD_COMMAND 22
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_GEN_FAILURE 31
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_MR_MID_NOT_FOUND 317
#define ERROR_OPERATION_ABORTED 995
#define ERROR_IO_PENDING 997
#define ERROR_DEVICE_NOT_CONNECTED 1167

DWORD GetLastError(void);
void SetLastError(DWORD code);

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
// Writes the text for a Win32 error code (the stand-in's own texts, from the
// errno the code came from where there is one). Returns the length written.
DWORD FormatMessageA(DWORD flags, const void *source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, void *arguments);

// ---------------------------------------------------------------- time
// Never returns before ms milliseconds have passed; on the virtual clock
// (platform/clock.h) it advances that clock instead.
void Sleep(DWORD ms);
// An alertable wait, the only kind the programs make: runs the completion
// routines queued for the calling thread (and only those) and returns
// WAIT_IO_COMPLETION after running any; otherwise returns 0 when the time has
// passed. A wait that is not alertable is refused at once (0, last error
// ERROR_NOT_SUPPORTED): Sleep is that wait.
DWORD SleepEx(DWORD ms, BOOL alertable);
// Asks for fine timer resolution (on Linux: the thread's timer slack at 1 ns).
UINT timeBeginPeriod(UINT period);
UINT timeEndPeriod(UINT period);

// ---------------------------------------------------------------- files and devices
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_OVERLAPPED 0x40000000

typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef void (*LPOVERLAPPED_COMPLETION_ROUTINE)(DWORD error_code, DWORD transferred,
                                                LPOVERLAPPED overlapped);

// Device names: "COMn" is /dev/ttyS<n-1>; a name that a plugged-in device
// takes is that device's ("sim:...", the virtual receiver); every other name
// is a path. Opening is exclusive.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE template_file);
BOOL CloseHandle(HANDLE handle);
// Synchronous write: returns when the bytes have left the port.
BOOL WriteFile(HANDLE handle, const void *buffer, DWORD length, LPDWORD written,
               LPOVERLAPPED overlapped);
// Queued write and read. The routine runs on the calling thread inside one of
// its alertable SleepEx calls once the transfer has completed.
BOOL WriteFileEx(HANDLE handle, const void *buffer, DWORD length, LPOVERLAPPED overlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE routine);
BOOL ReadFileEx(HANDLE handle, void *buffer, DWORD length, LPOVERLAPPED overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE routine);

// ---------------------------------------------------------------- serial line
#define CBR_38400 38400

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4

#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

// The lines on or off; the handshake modes are no part of the programs.
#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01

// Same layout as Windows (28 bytes): the flag word's bits stand where the
// programs' masks expect them.
typedef struct _DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMCONFIG {
  DWORD dwSize;
  WORD wVersion;
  WORD wReserved;
  DCB dcb;
  DWORD dwProviderSubType;
  DWORD dwProviderOffset;
  DWORD dwProviderSize;
  WCHAR wcProviderData[1];
} COMMCONFIG, *LPCOMMCONFIG;

typedef struct _COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

#define MS_CTS_ON 0x0010
#define MS_DSR_ON 0x0020
#define MS_RING_ON 0x0040
#define MS_RLSD_ON 0x0080

// Reads the line settings and the DTR/RTS controls last applied.
BOOL GetCommConfig(HANDLE handle, LPCOMMCONFIG config, LPDWORD size);
// Applies line settings, flow control and the DTR/RTS lines.
BOOL SetCommConfig(HANDLE handle, LPCOMMCONFIG config, DWORD size);
BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);
BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
// A port without modem lines reports every line as not asserted.
BOOL GetCommModemStatus(HANDLE handle, LPDWORD status);

// ---------------------------------------------------------------- threads and locks
typedef struct _CRITICAL_SECTION {
  void *lock;  // a std::recursive_mutex, owned by the stand-in
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
// No DeleteCriticalSection: the programs' sections live as long as they do.

#define THREAD_PRIORITY_NORMAL 0

// ---------------------------------------------------------------- console
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

#define ENABLE_PROCESSED_INPUT 0x0001
#define ENABLE_LINE_INPUT 0x0002
#define ENABLE_ECHO_INPUT 0x0004
#define ENABLE_PROCESSED_OUTPUT 0x0001
#define ENABLE_WRAP_AT_EOL_OUTPUT 0x0002

#define FOREGROUND_BLUE 0x0001
#define FOREGROUND_GREEN 0x0002
#define FOREGROUND_RED 0x0004
#define FOREGROUND_INTENSITY 0x0008
#define BACKGROUND_BLUE 0x0010
#define BACKGROUND_GREEN 0x0020
#define BACKGROUND_RED 0x0040
#define BACKGROUND_INTENSITY 0x0080

typedef struct _COORD {
  SHORT X;
  SHORT Y;
} COORD, *PCOORD;

typedef struct _SMALL_RECT {
  SHORT Left;
  SHORT Top;
  SHORT Right;
  SHORT Bottom;
} SMALL_RECT, *PSMALL_RECT;

typedef struct _CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  WORD wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
} CONSOLE_SCREEN_BUFFER_INFO, *PCONSOLE_SCREEN_BUFFER_INFO;

typedef struct _CONSOLE_CURSOR_INFO {
  DWORD dwSize;
  BOOL bVisible;
} CONSOLE_CURSOR_INFO, *PCONSOLE_CURSOR_INFO;

#define KEY_EVENT 0x0001
#define MOUSE_EVENT 0x0002
#define WINDOW_BUFFER_SIZE_EVENT 0x0004
#define MENU_EVENT 0x0008
#define FOCUS_EVENT 0x0010

#define RIGHT_ALT_PRESSED 0x0001
#define LEFT_ALT_PRESSED 0x0002
#define RIGHT_CTRL_PRESSED 0x0004
#define LEFT_CTRL_PRESSED 0x0008
#define SHIFT_PRESSED 0x0010
#define NUMLOCK_ON 0x0020
#define SCROLLLOCK_ON 0x0040
#define CAPSLOCK_ON 0x0080
#define ENHANCED_KEY 0x0100

typedef struct _KEY_EVENT_RECORD {
  BOOL bKeyDown;
  WORD wRepeatCount;
  WORD wVirtualKeyCode;
  WORD wVirtualScanCode;
  union {
    WCHAR UnicodeChar;
    CHAR AsciiChar;
  } uChar;
  DWORD dwControlKeyState;
} KEY_EVENT_RECORD;

typedef struct _INPUT_RECORD {
  WORD EventType;
  union {
    KEY_EVENT_RECORD KeyEvent;
  } Event;
} INPUT_RECORD, *PINPUT_RECORD;

#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_F8 0x77
#define VK_F9 0x78
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B

HANDLE GetStdHandle(DWORD which);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL SetConsoleMode(HANDLE console, DWORD mode);
BOOL GetConsoleScreenBufferInfo(HANDLE console, PCONSOLE_SCREEN_BUFFER_INFO info);
BOOL SetConsoleScreenBufferSize(HANDLE console, COORD size);
BOOL SetConsoleWindowInfo(HANDLE console, BOOL absolute, const SMALL_RECT *window);
BOOL FillConsoleOutputCharacterA(HANDLE console, CHAR character, DWORD length, COORD start,
                                 LPDWORD written);
BOOL FillConsoleOutputAttribute(HANDLE console, WORD attribute, DWORD length, COORD start,
                                LPDWORD written);
BOOL SetConsoleTextAttribute(HANDLE console, WORD attribute);
BOOL SetConsoleCursorPosition(HANDLE console, COORD position);
BOOL WriteConsoleA(HANDLE console, const void *text, DWORD length, LPDWORD written,
                   LPVOID reserved);
BOOL ReadConsoleOutputAttribute(HANDLE console, WORD *attributes, DWORD length, COORD start,
                                LPDWORD read);
BOOL PeekConsoleInputA(HANDLE console, PINPUT_RECORD records, DWORD length, LPDWORD read);
BOOL ReadConsoleInputA(HANDLE console, PINPUT_RECORD records, DWORD length, LPDWORD read);
BOOL GetConsoleCursorInfo(HANDLE console, PCONSOLE_CURSOR_INFO info);
BOOL SetConsoleCursorInfo(HANDLE console, const CONSOLE_CURSOR_INFO *info);

// ---------------------------------------------------------------- C library
// Closes every stream open_regular_file opened that is still open, and
// returns how many (the Microsoft C library's call of the same name closes
// every stream but the standard ones; every file the programs open goes
// through open_regular_file).
int _fcloseall(void);
