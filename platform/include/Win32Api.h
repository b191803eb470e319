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

#include <cstddef>

// S0 low-power idle ("Modern Standby") among the power capabilities: byte 20 of
// SYSTEM_POWER_CAPABILITIES, which the SDK names AoAc and MinGW-w64's headers the last of
// spare2[3]; in Windows XP's record it is a spare byte, left zero. Read and written as that
// byte, between the two members both headers name alike, so the same code builds against
// either header.
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, FastSystemS4) == 17,
              "the byte before S0 low-power idle's");
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, DiskSpinDown) == 21,
              "the byte after S0 low-power idle's");
constexpr size_t kAoAcOffset = 20;

inline BOOLEAN CapabilitiesAoAc(const SYSTEM_POWER_CAPABILITIES& capabilities) {
  return reinterpret_cast<const unsigned char*>(&capabilities)[kAoAcOffset];
}

inline void SetCapabilitiesAoAc(SYSTEM_POWER_CAPABILITIES& capabilities, BOOLEAN aoAc) {
  reinterpret_cast<unsigned char*>(&capabilities)[kAoAcOffset] = aoAc;
}

#endif
