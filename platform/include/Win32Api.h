// The one header through which system code reaches the Windows API.
//
// On Windows it is the real API. Everywhere else it declares the same names, types and
// constants, and the host stand-in in platform/host implements them with the Windows
// behaviour this system relies on. System code never tests for the platform itself.
#ifndef PM_WIN32API_H
#define PM_WIN32API_H

#ifdef _WIN32

#include <windows.h>
// After windows.h, whose types it uses.
#include <powrprof.h>

#else

// The stand-in's declarations, found on pm_platform's include path (platform/host/include).
#include "HostWin32.h"

#endif

#endif
