// The current scheme functions of the host's powrprof.dll. Internal to platform/host: system
// code and tests reach them through LoadLibraryA("powrprof.dll") and GetProcAddress, as on
// Windows, and only on a machine that offers them (host::SetPowerMachine).
#ifndef PM_HOST_CURRENTPOWEREXPORTS_H
#define PM_HOST_CURRENTPOWEREXPORTS_H

#include "HostWin32.h"

DWORD WINAPI PowerGetActiveScheme(HKEY UserRootPowerKey, GUID** ActivePolicyGuid);
DWORD WINAPI PowerReadACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD AcValueIndex);
DWORD WINAPI PowerReadDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD DcValueIndex);
DWORD WINAPI PowerWriteACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD AcValueIndex);
DWORD WINAPI PowerWriteDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD DcValueIndex);
DWORD WINAPI PowerSetActiveScheme(HKEY UserRootPowerKey, const GUID* SchemeGuid);
DWORD WINAPI PowerSettingAccessCheck(POWER_DATA_ACCESSOR AccessFlags, const GUID* PowerGuid);
// Exported by every Windows's powrprof.dll; the stand-in's current machines offer the two
// levels of the power policy in force (see platform/powrprof/CurrentPowerProfile.h).
LONG WINAPI CallNtPowerInformation(POWER_INFORMATION_LEVEL InformationLevel, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength);

#endif
