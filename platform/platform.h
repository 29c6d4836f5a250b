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
#else
#include "posix/win32_stand_in.h"
#endif

#include "framework.h"
