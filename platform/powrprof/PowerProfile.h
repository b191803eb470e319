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
// name/description: ANSI. The name is required (null: ERROR_INVALID_PARAMETER), as Windows
// documents it; a null description keeps the stored one.
BOOLEAN WriteScheme(PUINT id, const char* name, const char* description, PPOWER_POLICY policy);
// The records given must carry revision 1 (else ERROR_REVISION_MISMATCH). The stand-in has no
// running power policy apart from the active scheme: a policy given becomes scheme id's
// stored records (written only where it differs from them); it keeps no global policy, so a global
// one given is checked and not kept, and a null one leaves the (absent) global policy as it is.
BOOLEAN SetActiveScheme(UINT id, PGLOBAL_POWER_POLICY global, PPOWER_POLICY policy);

// One scheme found by EnumSchemes: its index, its name and description (ANSI; empty when not
// stored) and its records. FALSE stops the enumeration.
using SchemeVisitor = BOOLEAN (*)(UINT id, const char* name, const char* description,
                                  PPOWER_POLICY policy, void* context);
// Visits every scheme whose user key under kUserPoliciesKey is named by a decimal index, in the
// registry's order of those keys (none at all when there is no such key). A scheme whose
// records cannot be read fails the enumeration with the read's error. When the visitor stops
// it, the answer is FALSE with ERROR_CANCELLED, as a test of the function written against
// Windows XP expects; what Windows answers then is not documented.
BOOLEAN EnumSchemes(SchemeVisitor visit, void* context);

}  // namespace powerprofile

#endif
