// The stand-in power profile of a current machine (Windows Vista and later): the scheme
// functions that name schemes and settings by GUID, over the registry layout such a machine
// keeps. Written over the ANSI registry calls and LocalAlloc only, so the same source serves
// the host build (through host/CurrentPowerGate.cpp) and the powrprof.dll of a current
// machine that Wine loads in place of its own (through CurrentDllExports.cpp).
//
// Every function answers ERROR_SUCCESS or the error, and leaves the caller's out-parameters
// alone when it fails. The reserved root-key parameters must be null.
#ifndef PM_CURRENTPOWERPROFILE_H
#define PM_CURRENTPOWERPROFILE_H

#include <string>

#include "Win32Api.h"

namespace powerprofile {

// HKEY_LOCAL_MACHINE. The schemes: "<kSchemesKey>\<scheme>" exists for every scheme, and
// "<kSchemesKey>\<scheme>\<subgroup>\<setting>" holds the values a scheme sets itself.
constexpr const char* kSchemesKey = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
// REG_SZ under kSchemesKey: the active scheme's GUID as text.
constexpr const char* kActivePowerSchemeValue = "ActivePowerScheme";
// The settings: "<kSettingsKey>\<subgroup>\<setting>" exists for every setting, and its
// subkey "DefaultPowerSchemeValues\<scheme>" holds the value of a scheme that sets none.
constexpr const char* kSettingsKey = "SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings";
constexpr const char* kDefaultValuesKey = "DefaultPowerSchemeValues";
// REG_DWORD: the value on mains power and on battery.
constexpr const char* kAcIndexValue = "ACSettingIndex";
constexpr const char* kDcIndexValue = "DCSettingIndex";
// Windows' own power policy (Group Policy). A setting it holds: "<kPolicySettingsKey>\<setting>"
// with kAcIndexValue or kDcIndexValue, in seconds; writing that side of the setting is
// refused, and the access check says it is held. A plan it chooses: kActivePowerSchemeValue
// (REG_SZ, the GUID) under kPolicySettingsKey; activating any other plan is refused.
constexpr const char* kPolicySettingsKey = "SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings";

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower-case, without braces, as the layout names
// keys and the active scheme.
std::string GuidText(const GUID& guid);
// Accepts that form in either case, with or without braces.
bool ParseGuid(const char* text, size_t length, GUID* guid);

enum class PowerSide { kAc, kDc };

// PowerGetActiveScheme: a GUID allocated with LocalAlloc, for the caller to LocalFree.
DWORD GetActivePowerScheme(HKEY userRoot, GUID** active);
// PowerReadACValueIndex / PowerReadDCValueIndex: the scheme's own value, else its default.
DWORD ReadValueIndex(PowerSide side, HKEY root, const GUID* scheme, const GUID* subgroup,
                     const GUID* setting, LPDWORD index);
// PowerWriteACValueIndex / PowerWriteDCValueIndex: stores the scheme's own value. The scheme
// and the setting must exist; a side that group policy fixes is refused with
// ERROR_ACCESS_DISABLED_BY_POLICY.
DWORD WriteValueIndex(PowerSide side, HKEY root, const GUID* scheme, const GUID* subgroup,
                      const GUID* setting, DWORD index);
// PowerSetActiveScheme: the scheme must exist; while group policy chooses the plan, any other
// plan is refused with ERROR_ACCESS_DISABLED_BY_POLICY.
DWORD SetActivePowerScheme(HKEY userRoot, const GUID* scheme);
// PowerSettingAccessCheck: ERROR_ACCESS_DISABLED_BY_POLICY for a setting side that group
// policy fixes (ACCESS_AC/DC_POWER_SETTING_INDEX with the setting's GUID), and for
// ACCESS_ACTIVE_SCHEME while group policy chooses the plan; otherwise ERROR_ACCESS_DENIED when
// the user may not write the schemes, else ERROR_SUCCESS. ACCESS_SCHEME and
// ACCESS_CREATE_SCHEME ask the write right only; any other accessor is
// ERROR_INVALID_PARAMETER. (Windows documents the check as one for group policy overrides and
// its answers as 0, 1260 and 1640; the write right's ERROR_ACCESS_DENIED is the stand-in's.)
DWORD SettingAccessCheck(POWER_DATA_ACCESSOR access, const GUID* guid);

// CallNtPowerInformation's answers (NTSTATUS).
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusUnsuccessful = static_cast<LONG>(0xC0000001);
constexpr LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);

// CallNtPowerInformation for SystemPowerPolicyAc and SystemPowerPolicyDc: the power policy in
// force on that power source, a SYSTEM_POWER_POLICY filled from the active scheme's display,
// sleep, hibernate and disk settings, each replaced by the value group policy holds for that
// side where it holds one (revision 1, the idle action sleep when the idle time-out is set,
// every other member zero). Only reading is modelled: an input buffer (which asks Windows to
// apply a policy) and every other level answer STATUS_NOT_IMPLEMENTED; an output buffer
// smaller than the record, STATUS_BUFFER_TOO_SMALL.
LONG PowerInformation(POWER_INFORMATION_LEVEL level, PVOID input, ULONG inputLength, PVOID output,
                      ULONG outputLength);

}  // namespace powerprofile

#endif
