// Declarations of the Windows user-interface subset this system uses, for the host build.
// Included by HostWin32.h; include "Win32Api.h" rather than this file.
#ifndef PM_HOST_WIN32_UI_H
#define PM_HOST_WIN32_UI_H

#endif
