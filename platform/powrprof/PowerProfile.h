// The stand-in power profile: the legacy power-scheme functions, keeping every scheme in
// the registry in the Windows 2000/XP layout. Written over the ANSI registry calls only, so
// the same source serves the host build (through host/PowerGate.cpp) and the powrprof.dll
// that Wine loads in place of its stub (through DllExports.cpp).
#ifndef PM_POWERPROFILE_H
#define PM_POWERPROFILE_H

#include "Win32Api.h"

namespace powerprofile {

// HKEY_CURRENT_USER: active scheme index and the user halves of the schemes.
constexpr const char* kUserPowerCfgKey = "Control Panel\\PowerCfg";
constexpr const char* kUserPoliciesKey = "Control Panel\\PowerCfg\\PowerPolicies";
constexpr const char* kActiveSchemeValue = "CurrentPowerPolicy";
// HKEY_LOCAL_MACHINE: the machine halves; write access to kMachinePowerCfgKey is what
// "the user may write power schemes" means.
constexpr const char* kMachinePowerCfgKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr const char* kMachinePoliciesKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies";
constexpr const char* kPoliciesValue = "Policies";
constexpr const char* kNameValue = "Name";
constexpr const char* kDescriptionValue = "Description";
// Stand-in knob, not a Windows value: REG_BINARY SYSTEM_POWER_CAPABILITIES (76 bytes) under
// HKEY_LOCAL_MACHINE kMachinePowerCfgKey. Absent: DefaultCapabilities().
constexpr const char* kCapabilitiesValue = "StandInCapabilities";

// A desktop with S1, S3, S4 (hibernation file present) and S5.
SYSTEM_POWER_CAPABILITIES DefaultCapabilities();
// A laptop with Modern Standby: S0 low-power idle (AoAc) in place of S1 to S3, S4 with its
// hibernation file, S5, a lid and batteries.
SYSTEM_POWER_CAPABILITIES ModernStandbyCapabilities();

// The knob's record, else DefaultCapabilities(). A record of Windows XP (`windowsXpRecord`)
// has a spare byte where later ones report S0 low-power idle: it is answered zero.
BOOLEAN GetCapabilities(PSYSTEM_POWER_CAPABILITIES caps, bool windowsXpRecord);
BOOLEAN GetActiveScheme(PUINT id);
BOOLEAN IsHibernateAllowed();
BOOLEAN CanUserWriteScheme();
BOOLEAN ReadScheme(UINT id, PPOWER_POLICY policy);
// name/description: ANSI, null keeps the stored ones.
BOOLEAN WriteScheme(PUINT id, const char* name, const char* description, PPOWER_POLICY policy);
BOOLEAN SetActiveScheme(UINT id, PGLOBAL_POWER_POLICY global, PPOWER_POLICY policy);

}  // namespace powerprofile

#endif
