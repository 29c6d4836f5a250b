// The one header through which both programs reach the operating system.
// On Windows it is the platform itself; elsewhere our stand-in with the same
// names (platform/posix/win32_stand_in.h).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commdlg.h>
#include <mmsystem.h>
// The few calls that reach a port go to a device port ("sim:") or to Windows,
// and past the wire trace (ORN_TRACE).
#include "win32/port_calls_win32.h"
// Printed text reaches the console as code page 850.
#include "win32/console_text_win32.h"
// Every pause is precise, never shorter than asked.
#include "win32/precise_sleep_win32.h"
#else
#include "posix/win32_stand_in.h"
#endif

#include "framework.h"
